// Finding the camera drives: fixed drives whose free-space query fails,
// because a camera volume carries no file system.
#pragma once

namespace varnel {

inline constexpr int kMaxDriveSlots = 32;

// Writes the upper-case letter ('A' = 65) of each camera drive into
// consecutive slots of `letters`, in drive-letter order, after clearing all 32
// slots. Returns the number found (at most 26).
int EnumerateCameraDrives(int (&letters)[kMaxDriveSlots]);

}  // namespace varnel
