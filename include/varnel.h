/*
 * VarnelSdk_Rade: the public C interface of the camera library.
 *
 * Every function is exported undecorated with C linkage and the C calling
 * convention (cdecl). An application obtains a CameraHandle from
 * Varnel_Initialize, passes it as the first argument of every other call and
 * gives it back with Varnel_Release.
 *
 * Conventions that hold for every function below unless its comment says
 * otherwise:
 *  - BOOL-like results are int: 1 for success, 0 for failure.
 *  - An unknown or released handle gives the function's failure value (0, or -1
 *    for Varnel_GetColorMode, Varnel_GetSubSample and Varnel_GetWaitTime) and
 *    records nothing.
 *  - A failing operation records an error code in the handle's error stack
 *    (read it with Varnel_GetLastError) and posts message 0x8003 (WM_APP + 3,
 *    wParam 0, lParam = code) to the notification window given to
 *    Varnel_Initialize, when that window is not null.
 *  - Operations that need a camera driver record error 1 and return their
 *    failure value when none is attached to the handle.
 *  - A few calls return 1 and still record an error, so read
 *    Varnel_GetLastError after them too: Varnel_SetCameraType (error 2: no
 *    camera drive could be selected, so there is no camera to use; error 7:
 *    the stored window did not fit the model and the whole sensor is used,
 *    the camera works); Varnel_Close (error 1 without a driver); and, while a
 *    stream runs, Varnel_WriteRegister (error 6 when the camera refuses the
 *    write made between two frames) and the starts (error 8 when the
 *    camera's frames stop).
 *
 * Error codes:
 *   0  no error pending
 *   1  no camera driver attached to the instance
 *   2  device could not be selected, or the camera is in use by another
 *      program or handle (a start or register access of a camera that another
 *      user has open fails with it; see Varnel_Preview)
 *   3  worker thread or its event could not be created
 *   4  preview window or its device context could not be created
 *   5  memory or buffer problem
 *   6  the camera refused a register or sync command
 *   7  capture window not allowed or not valid
 *   8  a frame could not be read
 *   9  argument out of range
 *  11  operation not supported
 *
 * Messages posted to application windows:
 *   0x8002 (WM_APP + 2): a frame is ready; wParam = address of the handle's
 *          FrameInfo (valid as long as the handle is), lParam 0. With wParam 0
 *          and lParam 8 a snapshot could not read its frame.
 *   0x8003 (WM_APP + 3): an error was recorded; lParam = the code.
 *
 * On Linux there are no windows: create a message queue with the functions of
 * varnel_posix.h and pass it wherever a function takes an HWND.
 */
#ifndef VARNEL_H_
#define VARNEL_H_

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#define VARNEL_API __cdecl
#else
#define VARNEL_API
/* Compatible with the declaration <windows.h> makes under STRICT. */
#if !defined(_WINDEF_) && !defined(_WINDEF_H) && !defined(VARNEL_HWND_DEFINED)
#define VARNEL_HWND_DEFINED
typedef struct HWND__* HWND;
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Identifies an open camera instance. A 32-bit value passed as a
 * pointer-sized integer; it is not an address. 0 is never a valid handle. */
typedef uintptr_t CameraHandle;

/* Per-frame information; the address of the handle's record is the wParam of
 * message 0x8002. The next frame overwrites it: copy the values at once. */
typedef struct FrameInfo {
  int32_t size;         /* always 24 */
  int32_t width;        /* image width in pixels */
  int32_t height;       /* image height in pixels */
  int32_t bitsPerPixel; /* 8, 16, 24, 32, 48 or 64 */
  int32_t frameRate;    /* tenths of frames per second */
  int32_t reserved;     /* 0 */
} FrameInfo;

/* Camera limits, filled by Varnel_GetCameraInfo. */
typedef struct CameraInfo {
  int32_t size;      /* set by the caller to sizeof(CameraInfo) (36) */
  int32_t maxWidth;  /* model's maximum capture width */
  int32_t maxHeight; /* model's maximum capture height */
  int32_t gainMin;   /* global gain range, in the sensor's own gain steps */
  int32_t gainMax;
  int32_t colorGainMin; /* colour gain range */
  int32_t colorGainMax;
  int32_t exposureMin; /* exposure time range, in the units of the model's */
  int32_t exposureMax; /* exposure register (see Varnel_SetExposureTime) */
} CameraInfo;

/* Image file formats of Varnel_SaveImage. */
#define VARNEL_FILE_BMP 0
#define VARNEL_FILE_RAW 1
#define VARNEL_FILE_JPEG_100 2 /* JPEG, quality 100 */
#define VARNEL_FILE_JPEG_70 3  /* JPEG, quality 70 */
#define VARNEL_FILE_JPEG_20 4  /* JPEG, quality 20 */
#define VARNEL_FILE_PNG 5
#define VARNEL_FILE_TIFF 6 /* uncompressed */

/* ---- Library and errors ------------------------------------------------- */

/* Returns the library version, 0x00C90502. Takes no handle. */
uint32_t VARNEL_API Varnel_GetDllVersion(void);

/* Creates a camera instance. `window` receives message 0x8003 for each
 * recorded error; it may be null. Returns the new handle, or 0 when the
 * instance could not be created. The handle is returned even when the
 * instance's initialisation failed; error 5 has then been recorded and
 * announced to `window`. */
CameraHandle VARNEL_API Varnel_Initialize(HWND window);

/* Stops acquisition, saves the analog, filter and gray settings that
 * Varnel_SetCameraType loaded (nothing when it was never called) and frees the
 * instance. Returns 1 when the handle was known, 0 otherwise. The handle is
 * invalid afterwards. */
int VARNEL_API Varnel_Release(CameraHandle handle);

/* Pops the most recent error code (0 when none is pending). Up to 20 codes are
 * kept; older ones are lost. */
int VARNEL_API Varnel_GetLastError(CameraHandle handle);

/* ---- Device and camera type --------------------------------------------- */

/* The room Varnel_EnumDevice needs: a camera drive is a drive letter, so
 * there are at most 26 of them, each named in a slot of 256 bytes. */
#define VARNEL_MAX_DEVICES 26
#define VARNEL_DEVICE_NAME_SIZE 256

/* Lists the camera drives into `names`, one "X:" string per 256-byte slot,
 * padding with empty strings up to slot 9. The library writes max(10, count)
 * slots, so give it VARNEL_MAX_DEVICES slots:
 *     char names[VARNEL_MAX_DEVICES][VARNEL_DEVICE_NAME_SIZE];
 *     int count = Varnel_EnumDevice(handle, &names[0][0]);
 * A smaller buffer is overrun when more drives are attached than it holds.
 * Returns the number of camera drives. Errors: 1, 9 (null `names`). */
int VARNEL_API Varnel_EnumDevice(CameraHandle handle, char* names);

/* Selects the enumerated drive `index` for the current driver. Returns 1 for
 * an index in the last enumeration's list. Errors: 1, 2. */
int VARNEL_API Varnel_SetDeviceNumber(CameraHandle handle, int index);

/* Writes "X:" for enumerated drive `index` into `name` (`size` bytes, more
 * than 18). Returns 1, or 0 for an index outside the list (no error).
 * Errors: 1, 9 (size of 18 or less, or null `name`). */
int VARNEL_API Varnel_GetDeviceName(CameraHandle handle, int index, char* name, int size);

/* Chooses the camera type 0..10 (9 and 10 mean the same as 1), hands it the
 * selected drive and loads its stored settings. Returns 1, also with the
 * errors 2 and 7, which must be read with Varnel_GetLastError: 2 (no drive
 * selected yet, or the driver refused it: the type and its stored settings
 * are set, but no camera can be used), 7 (the window did not fit the model
 * and was replaced by the full sensor area). Returns 0 with error 9 (type
 * above 10 or negative). */
int VARNEL_API Varnel_SetCameraType(CameraHandle handle, int type);

/* Returns the index of the current driver (0..8; types 9 and 10 read back as
 * 1). `unused` is ignored. Needs no driver. */
int VARNEL_API Varnel_GetCameraType(CameraHandle handle, int unused);

/* Fills `info` (whose size field must be at least 36) with the model's limits.
 * Returns 1 on success. Errors: 1, 9 (null info), 5 (size below 36). */
int VARNEL_API Varnel_GetCameraInfo(CameraHandle handle, CameraInfo* info);

/* Always returns 0. `unused` is ignored. */
int VARNEL_API Varnel_GetStatus(CameraHandle handle, int unused);

/* ---- Capture format and sensor settings --------------------------------- */

/* Chooses the stored size preset whose effective size is width x height.
 * Returns 1 when one was applied, 0 when none matches (no error).
 * Errors: 1, 7. */
int VARNEL_API Varnel_SetCaptureWindow(CameraHandle handle, int width, int height);

/* Sets the capture window: sensor totals, starts and effective size. Returns 1
 * when the window fits the model; otherwise 0 with error 7, and the rejected
 * values stay stored. Errors: 1, 7. */
int VARNEL_API Varnel_SetCaptureWindowEx(CameraHandle handle, int hTotal, int hStart,
                                         int hEffective, int vTotal, int vStart, int vEffective);

/* Writes the six capture-window values through the pointers that are not
 * null. Returns 1. Needs no driver. */
int VARNEL_API Varnel_GetCaptureWindowEx(CameraHandle handle, int* hTotal, int* hStart,
                                         int* hEffective, int* vTotal, int* vStart,
                                         int* vEffective);

/* Return the capture window's width and height (not the sub-sampled image's).
 * Need no driver. */
int VARNEL_API Varnel_Width(CameraHandle handle);
int VARNEL_API Varnel_Height(CameraHandle handle);

/* Sets the colour mode by bits per pixel: 8, 10, 12, 14, 16 (monochrome),
 * 24, 32, 30, 36, 42, 48, 64, 640, 768, 896 (colour). Returns 1.
 * Errors: 9 (any other mode; nothing changes). Needs no driver. */
int VARNEL_API Varnel_SetColorMode(CameraHandle handle, int mode);

/* Returns the colour mode (640, 768 and 896 read back as 64), or -1. */
int VARNEL_API Varnel_GetColorMode(CameraHandle handle);

/* Sets sub-sampling: 0 full, 1 half, 2 quarter resolution. Returns 1, or 0
 * for any other value (no error). Needs no driver. */
int VARNEL_API Varnel_SetSubSample(CameraHandle handle, int mode);

/* Returns the sub-sampling mode, or -1 for an unknown handle. */
int VARNEL_API Varnel_GetSubSample(CameraHandle handle);

/* Sets the milliseconds waited before each streamed frame is handled (0 or
 * more). Returns 1, or 0 for a negative value (no error). Needs no driver. */
int VARNEL_API Varnel_SetWaitTime(CameraHandle handle, int milliseconds);

/* Returns the wait time in milliseconds, or -1 for an unknown handle. */
int VARNEL_API Varnel_GetWaitTime(CameraHandle handle);

/* Set vertical / horizontal sync (0 off, non-zero on). Return 1.
 * Errors: 1, 6 (the camera refused). */
int VARNEL_API Varnel_SetSyncV(CameraHandle handle, int on);
int VARNEL_API Varnel_SetSyncH(CameraHandle handle, int on);

/* Return the sensor's sync flag 0/1. Without a driver they write 0 through a
 * non-null `flag`, record error 1 and return -1; otherwise `flag` is not
 * written. An unknown handle returns 0. */
int VARNEL_API Varnel_GetSyncV(CameraHandle handle, int* flag);
int VARNEL_API Varnel_GetSyncH(CameraHandle handle, int* flag);

/* Set vertical / horizontal mirroring (0 off, non-zero on). Return the
 * sensor's answer. Errors: 1. */
int VARNEL_API Varnel_SetMirrorV(CameraHandle handle, int on);
int VARNEL_API Varnel_SetMirrorH(CameraHandle handle, int on);

/* Return the sensor's mirror flag 0/1. Errors: 1 (then 0). */
int VARNEL_API Varnel_GetMirrorV(CameraHandle handle);
int VARNEL_API Varnel_GetMirrorH(CameraHandle handle);

/* Sets automatic brightness control: 0 off, 1 by exposure, 2 by gain.
 * Returns 1. Errors: 9 (other values). Needs no driver. */
int VARNEL_API Varnel_SetAutoIris(CameraHandle handle, int mode);

/* Returns the automatic brightness mode and sets *valid to 1 when `valid` is
 * not null. Needs no driver. */
int VARNEL_API Varnel_GetAutoIris(CameraHandle handle, int* valid);

/* Register addresses: 0..255 on HWH8, HXA1, HXB2, HXE5 and R2T heads,
 * 0..65535 on HXC3 heads (16-bit addresses), 0..1023 on HYD4, HZF6 and HZG7
 * heads (10-bit addresses; their registers hold up to 24 bits, of which these
 * two functions write and read the low 16, a write setting the bits above to
 * 0). An address outside the current model's range, or a value outside
 * 0..65535, is refused with error 9 and nothing reaches the camera. */

/* Writes `value` (0..65535) to the sensor register at `address`. Returns 1.
 * Errors: 1, 2 (another user has the camera open), 6, 9 (address or value
 * out of range).
 * While the camera streams the write is made between two frames: it is
 * accepted at once (1), and a camera that then refuses it records error 6
 * (0x8003 to the notification window). Writes still waiting when the stream
 * stops are made before the camera is closed. */
int VARNEL_API Varnel_WriteRegister(CameraHandle handle, int address, int value);

/* Reads the 16-bit sensor register at `address`. Sets *valid (when not
 * null) to 1 on success and 0 on failure. Returns the value, or 0 on failure.
 * While the camera streams the read is made between two frames within a
 * 100 ms wait; a read the camera did not confirm in that time (no answer,
 * busy, refused, removed) fails. Errors: 1, 2, 6, 9 (address out of range). */
int VARNEL_API Varnel_ReadRegister(CameraHandle handle, int address, int* valid);

/* ---- Acquisition, images and windows ------------------------------------ */

/* Stores the parent window (null for a top-level window) and the placement of
 * the next preview window. Returns 1. Errors: 1. */
int VARNEL_API Varnel_SetPreviewWindow(CameraHandle handle, HWND parent, int x, int y, int width,
                                       int height);

/* Every start below (and a register access while not streaming) opens the
 * camera for this handle alone until the acquisition stops: one camera, one
 * user. While another program, or another handle of this one, has the camera
 * open, a start fails with error 2 and nothing reaches the camera, so the
 * other user goes on undisturbed. A start that cannot have the memory it
 * needs fails with error 5, one that cannot start a thread with error 3; the
 * handle is then Idle and nothing of the start is left.
 *
 * While a stream runs, a camera whose frame reads keep failing (pulled out,
 * its volume gone) is reported within a second: error 8, and 0x8002 with
 * wParam 0 and lParam 8 to the frame window when one is set. */

/* Starts live preview in a window created by the library (a new one on each
 * call; on Linux an off-screen stand-in); no frame messages are posted.
 * Returns 1. Errors: 1, 2 (camera in use), 3, 4, 5, 7, 8 (the camera did not
 * start). */
int VARNEL_API Varnel_Preview(CameraHandle handle);

/* Row order of the frame copies (`topRowFirst` below): non-zero copies the
 * picture's top row first, 0 its bottom row first (the order of a bottom-up
 * bitmap). Each row keeps its padding to a multiple of 4 bytes, so a buffer
 * must hold ((width x bytes per pixel + 3) & ~3) x height bytes; a smaller one
 * receives nothing, 0x8002 with wParam 0 and lParam 5 is posted to the frame
 * window (when one is set) and error 5 is recorded. */

/* Starts live preview in a window created by the library and copies each
 * frame into `buffer` (`size` bytes) when it is not null, posting 0x8002 with
 * the address of the handle's FrameInfo to `frameWindow` for each frame copied.
 * Returns 1. Errors: 1, 2, 3, 4, 5, 7, 8 (the camera did not start, or its
 * frames stopped). */
int VARNEL_API Varnel_CallBackPreview(CameraHandle handle, HWND frameWindow, void* buffer, int size,
                                      int topRowFirst);

/* Starts triggered acquisition on a worker thread; each triggered frame is
 * copied into `buffer` and announced with 0x8002 to `frameWindow`. Returns 1;
 * 0 without a code while another acquisition (or a trigger) runs.
 * Errors: 1, 2, 3, 4, 5, 7, 8 (the camera did not start), 11 (model without
 * trigger support). */
int VARNEL_API Varnel_Trigger(CameraHandle handle, HWND frameWindow, void* buffer, int size,
                              int topRowFirst);

/* Takes one frame, processes it and, when `buffer` is not null and `size` not
 * 0, copies it into `buffer`. Returns 1; 0 without a code while previewing or
 * triggered. Errors: 1, 2, 3, 5, 7, 8 (no frame could be read: 0x8002 with
 * wParam 0 and lParam 8 is also posted to the frame window). */
int VARNEL_API Varnel_SnapShot(CameraHandle handle, void* buffer, int size, int topRowFirst);

/* Arms capture mode: later snapshots read at once. Returns 1. Errors: 1, 2,
 * 3, 5, 7, 8. */
int VARNEL_API Varnel_Capture(CameraHandle handle);

/* Starts streaming (in the preview window of an earlier Varnel_Preview, if
 * any). Returns 1, also when already previewing; 0 without a code while
 * capturing or triggered. Errors: 1, 2, 3, 5, 7, 8 (the camera did not start,
 * or its frames stopped). */
int VARNEL_API Varnel_StartPreview(CameraHandle handle);

/* Stops any acquisition (preview, capture, trigger); the preview window
 * stays until Varnel_Close. Returns 1. Errors: 1. */
int VARNEL_API Varnel_StopPreview(CameraHandle handle);

/* Closes the preview window and stops acquisition. Returns 1 for a known
 * handle (error 1 is recorded when no driver is attached). */
int VARNEL_API Varnel_Close(CameraHandle handle);

/* Copies the last processed image of the current colour mode into `buffer`
 * (`size` bytes). Returns 1. Errors: 1, 5 (no image yet, null buffer, buffer
 * too small). */
int VARNEL_API Varnel_GetImage(CameraHandle handle, void* buffer, int size, int topRowFirst);

/* Saves the last processed image of the current colour mode to `fileName`
 * (used as given) in `format` (VARNEL_FILE_*). Returns 1 when the whole file
 * was written, else 0. Errors: 1, 9 (null or empty name, unknown format),
 * 5 (no image yet, or no memory for the copy). A file the system does not let
 * the library create or write completely (no such directory, no permission,
 * disk full) returns 0 without a code. */
int VARNEL_API Varnel_SaveImage(CameraHandle handle, char* fileName, int format);

/* ---- Settings dialogs (Windows only; on Linux they record error 11) ----- */

/* Each runs a modal dialog owned by `owner` and returns 1 once it has run.
 * Errors: 1, 11. */
int VARNEL_API Varnel_SetCameraDlg(CameraHandle handle, HWND owner);
int VARNEL_API Varnel_SetImageDlg(CameraHandle handle, HWND owner);
int VARNEL_API Varnel_SetAnalogDlg(CameraHandle handle, HWND owner);

/* ---- Filter values ------------------------------------------------------- */

/* Stores filter value `id` (1..27, see the named functions below for each
 * identifier's range). Returns 1. Errors: 1, 9 (unknown identifier or value
 * out of range; nothing changes). */
int VARNEL_API Varnel_SetFilterValue(CameraHandle handle, int id, int value);

/* Returns filter value `id`. `valid` (may be null) is set to 1 for a known
 * identifier and to 0 on failure. Errors: 1, 9. */
int VARNEL_API Varnel_GetFilterValue(CameraHandle handle, int id, int* valid);

/* Filter 1. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 1, value). */
int VARNEL_API Varnel_SetBrightness(CameraHandle handle, int value);
/* Filter 1. Returns the stored value. Same as Varnel_GetFilterValue(handle, 1, valid). */
int VARNEL_API Varnel_GetBrightness(CameraHandle handle, int* valid);

/* Filter 2. Accepted values: -127..127. Same as Varnel_SetFilterValue(handle, 2, value). */
int VARNEL_API Varnel_SetContrast(CameraHandle handle, int value);
/* Filter 2. Returns the stored value. Same as Varnel_GetFilterValue(handle, 2, valid). */
int VARNEL_API Varnel_GetContrast(CameraHandle handle, int* valid);

/* Filter 3. Accepted values: -360..360. Same as Varnel_SetFilterValue(handle, 3, value). */
int VARNEL_API Varnel_SetHue(CameraHandle handle, int value);
/* Filter 3. Returns the stored value. Same as Varnel_GetFilterValue(handle, 3, valid). */
int VARNEL_API Varnel_GetHue(CameraHandle handle, int* valid);

/* Filter 4. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 4, value). */
int VARNEL_API Varnel_SetSaturation(CameraHandle handle, int value);
/* Filter 4. Returns the stored value. Same as Varnel_GetFilterValue(handle, 4, valid). */
int VARNEL_API Varnel_GetSaturation(CameraHandle handle, int* valid);

/* Filter 5. Accepted values: 0..30. Same as Varnel_SetFilterValue(handle, 5, value). */
int VARNEL_API Varnel_SetSharpness(CameraHandle handle, int value);
/* Filter 5. Returns the stored value. Same as Varnel_GetFilterValue(handle, 5, valid). */
int VARNEL_API Varnel_GetSharpness(CameraHandle handle, int* valid);

/* Filter 6. Accepted values: red in bits 0-7, green in bits 8-15, blue in bits 16-23; not
 * range-checked. Same as Varnel_SetFilterValue(handle, 6, value). */
int VARNEL_API Varnel_SetBayerGainRGB(CameraHandle handle, int value);
/* Filter 6. Returns the three gains packed the same way. Same as Varnel_GetFilterValue(handle, 6,
 * valid). */
int VARNEL_API Varnel_GetBayerGainRGB(CameraHandle handle, int* valid);

/* Filter 7. Accepted values: 0..400. Same as Varnel_SetFilterValue(handle, 7, value). */
int VARNEL_API Varnel_SetBayerGainRed(CameraHandle handle, int value);
/* Filter 7. Returns the stored value. Same as Varnel_GetFilterValue(handle, 7, valid). */
int VARNEL_API Varnel_GetBayerGainRed(CameraHandle handle, int* valid);

/* Filter 8. Accepted values: 0..400. Same as Varnel_SetFilterValue(handle, 8, value). */
int VARNEL_API Varnel_SetBayerGainGreen(CameraHandle handle, int value);
/* Filter 8. Returns the stored value. Same as Varnel_GetFilterValue(handle, 8, valid). */
int VARNEL_API Varnel_GetBayerGainGreen(CameraHandle handle, int* valid);

/* Filter 9. Accepted values: 0..400. Same as Varnel_SetFilterValue(handle, 9, value). */
int VARNEL_API Varnel_SetBayerGainBlue(CameraHandle handle, int value);
/* Filter 9. Returns the stored value. Same as Varnel_GetFilterValue(handle, 9, valid). */
int VARNEL_API Varnel_GetBayerGainBlue(CameraHandle handle, int* valid);

/* Filter 10. Accepted values: any value, stored as 0 or 1. Same as Varnel_SetFilterValue(handle,
 * 10, value). */
int VARNEL_API Varnel_SetBayerGainAuto(CameraHandle handle, int value);
/* Filter 10. Returns the stored flag. Same as Varnel_GetFilterValue(handle, 10, valid). */
int VARNEL_API Varnel_GetBayerGainAuto(CameraHandle handle, int* valid);

/* Filter 11. Accepted values: 0..200 (100 leaves the picture unchanged). Same as
 * Varnel_SetFilterValue(handle, 11, value). */
int VARNEL_API Varnel_SetGamma(CameraHandle handle, int value);
/* Filter 11. Returns the stored value. Same as Varnel_GetFilterValue(handle, 11, valid). */
int VARNEL_API Varnel_GetGamma(CameraHandle handle, int* valid);

/* Filter 12. Accepted values: 0..3. Same as Varnel_SetFilterValue(handle, 12, value). */
int VARNEL_API Varnel_SetBayerMode(CameraHandle handle, int value);
/* Filter 12. Returns the stored value. Same as Varnel_GetFilterValue(handle, 12, valid). */
int VARNEL_API Varnel_GetBayerMode(CameraHandle handle, int* valid);

/* Filter 13. Accepted values: 0..1023 on HYD4 and HZF6 heads, 0..63 on the others; sent to the
 * sensor at once. Same as Varnel_SetFilterValue(handle, 13, value).
 * The value goes to the sensor unchanged, in its own gain steps: register 53 (0x35) on HXA1,
 * HXB2 and R2T, wide registers 6 and 7 on HYD4 and HZF6, wide register 4 on HZG7. HWH8, HXE5
 * and HXC3 heads have no gain register: the value is stored only. */
int VARNEL_API Varnel_SetGlobalGain(CameraHandle handle, int value);
/* Filter 13. Returns the sensor's current global gain. Same as Varnel_GetFilterValue(handle, 13,
 * valid). */
int VARNEL_API Varnel_GetGlobalGain(CameraHandle handle, int* valid);

/* Filter 14. Accepted values: none: always records error 9. Same as Varnel_SetFilterValue(handle,
 * 14, value). */
int VARNEL_API Varnel_SetColorGainRed(CameraHandle handle, int value);
/* Filter 14. Returns 0 with *valid = 0 and error 9. Same as Varnel_GetFilterValue(handle, 14,
 * valid). */
int VARNEL_API Varnel_GetColorGainRed(CameraHandle handle, int* valid);

/* Filter 15. Accepted values: none: always records error 9. Same as Varnel_SetFilterValue(handle,
 * 15, value). */
int VARNEL_API Varnel_SetColorGainGreen1(CameraHandle handle, int value);
/* Filter 15. Returns 0 with *valid = 0 and error 9. Same as Varnel_GetFilterValue(handle, 15,
 * valid). */
int VARNEL_API Varnel_GetColorGainGreen1(CameraHandle handle, int* valid);

/* Filter 16. Accepted values: none: always records error 9. Same as Varnel_SetFilterValue(handle,
 * 16, value). */
int VARNEL_API Varnel_SetColorGainGreen2(CameraHandle handle, int value);
/* Filter 16. Returns 0 with *valid = 0 and error 9. Same as Varnel_GetFilterValue(handle, 16,
 * valid). */
int VARNEL_API Varnel_GetColorGainGreen2(CameraHandle handle, int* valid);

/* Filter 17. Accepted values: none: always records error 9. Same as Varnel_SetFilterValue(handle,
 * 17, value). */
int VARNEL_API Varnel_SetColorGainBlue(CameraHandle handle, int value);
/* Filter 17. Returns 0 with *valid = 0 and error 9. Same as Varnel_GetFilterValue(handle, 17,
 * valid). */
int VARNEL_API Varnel_GetColorGainBlue(CameraHandle handle, int* valid);

/* Filter 18. Accepted values: 1..6400; sent to the sensor at once. Same as
 * Varnel_SetFilterValue(handle, 18, value).
 * Unit: the value goes to the sensor unchanged and counts in the units of the model's exposure
 * register, whose duration (the sensor's line time) the camera does not report: register 9 on
 * HXA1 and HXB2, 11 on R2T, 82 on HXE5, 0x3166 on HXC3, wide registers 158 and 159 on HYD4 and
 * HZF6 (sent limited to 8..1068), wide register 154 on HZG7. HWH8 heads have no exposure
 * register: the value is stored only. */
int VARNEL_API Varnel_SetExposureTime(CameraHandle handle, int value);
/* Filter 18. Returns the sensor's current exposure time. Same as Varnel_GetFilterValue(handle, 18,
 * valid). */
int VARNEL_API Varnel_GetExposureTime(CameraHandle handle, int* valid);

/* Filter 19. Accepted values: 0..2. Same as Varnel_SetFilterValue(handle, 19, value). */
int VARNEL_API Varnel_SetGrayMode(CameraHandle handle, int value);
/* Filter 19. Returns the stored value. Same as Varnel_GetFilterValue(handle, 19, valid). */
int VARNEL_API Varnel_GetGrayMode(CameraHandle handle, int* valid);

/* Filter 20. Accepted values: 0..255. Same as Varnel_SetFilterValue(handle, 20, value). */
int VARNEL_API Varnel_SetGrayGainR(CameraHandle handle, int value);
/* Filter 20. Returns the stored value. Same as Varnel_GetFilterValue(handle, 20, valid). */
int VARNEL_API Varnel_GetGrayGainR(CameraHandle handle, int* valid);

/* Filter 21. Accepted values: 0..255. Same as Varnel_SetFilterValue(handle, 21, value). */
int VARNEL_API Varnel_SetGrayGainG1(CameraHandle handle, int value);
/* Filter 21. Returns the stored value. Same as Varnel_GetFilterValue(handle, 21, valid). */
int VARNEL_API Varnel_GetGrayGainG1(CameraHandle handle, int* valid);

/* Filter 22. Accepted values: 0..255. Same as Varnel_SetFilterValue(handle, 22, value). */
int VARNEL_API Varnel_SetGrayGainG2(CameraHandle handle, int value);
/* Filter 22. Returns the stored value. Same as Varnel_GetFilterValue(handle, 22, valid). */
int VARNEL_API Varnel_GetGrayGainG2(CameraHandle handle, int* valid);

/* Filter 23. Accepted values: 0..255. Same as Varnel_SetFilterValue(handle, 23, value). */
int VARNEL_API Varnel_SetGrayGainB(CameraHandle handle, int value);
/* Filter 23. Returns the stored value. Same as Varnel_GetFilterValue(handle, 23, valid). */
int VARNEL_API Varnel_GetGrayGainB(CameraHandle handle, int* valid);

/* Filter 24. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 24, value). */
int VARNEL_API Varnel_SetGrayOffsetR(CameraHandle handle, int value);
/* Filter 24. Returns the stored value. Same as Varnel_GetFilterValue(handle, 24, valid). */
int VARNEL_API Varnel_GetGrayOffsetR(CameraHandle handle, int* valid);

/* Filter 25. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 25, value). */
int VARNEL_API Varnel_SetGrayOffsetG1(CameraHandle handle, int value);
/* Filter 25. Returns the stored value. Same as Varnel_GetFilterValue(handle, 25, valid). */
int VARNEL_API Varnel_GetGrayOffsetG1(CameraHandle handle, int* valid);

/* Filter 26. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 26, value). */
int VARNEL_API Varnel_SetGrayOffsetG2(CameraHandle handle, int value);
/* Filter 26. Returns the stored value. Same as Varnel_GetFilterValue(handle, 26, valid). */
int VARNEL_API Varnel_GetGrayOffsetG2(CameraHandle handle, int* valid);

/* Filter 27. Accepted values: -255..255. Same as Varnel_SetFilterValue(handle, 27, value). */
int VARNEL_API Varnel_SetGrayOffsetB(CameraHandle handle, int value);
/* Filter 27. Returns the stored value. Same as Varnel_GetFilterValue(handle, 27, valid). */
int VARNEL_API Varnel_GetGrayOffsetB(CameraHandle handle, int* valid);

/* ---- Sampling rate and video format -------------------------------------- */

/* Store 0 through a non-null `value` and return 0; record no error. */
int VARNEL_API Varnel_GetSamplingRate(CameraHandle handle, int* value);
int VARNEL_API Varnel_GetVideoFormat(CameraHandle handle, int* value);

/* ---- Unsupported operations ---------------------------------------------- */

/* These read only the handle and ignore every other argument. For a known
 * handle they record error 11; they always return 0. */
int VARNEL_API Varnel_Fpga_ReadRegister(CameraHandle handle, ...);
int VARNEL_API Varnel_Fpga_WriteRegister(CameraHandle handle, ...);
int VARNEL_API Varnel_Fps(CameraHandle handle, ...);
int VARNEL_API Varnel_GetHalfClock(CameraHandle handle, ...);
int VARNEL_API Varnel_GetIOPort(CameraHandle handle, ...);
int VARNEL_API Varnel_ReadSromID(CameraHandle handle, ...);
int VARNEL_API Varnel_Record(CameraHandle handle, ...);
int VARNEL_API Varnel_SetCrossbar(CameraHandle handle, ...);
int VARNEL_API Varnel_SetHalfClock(CameraHandle handle, ...);
int VARNEL_API Varnel_SetIOPort(CameraHandle handle, ...);
int VARNEL_API Varnel_SetSamplingRate(CameraHandle handle, ...);
int VARNEL_API Varnel_WriteSromID(CameraHandle handle, ...);

#ifdef __cplusplus
}
#endif

#endif /* VARNEL_H_ */
