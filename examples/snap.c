/*
 * snap: the smallest application of the camera SDK. Opens the first camera
 * drive as the camera type given (default 1), takes one 24-bit colour frame,
 * prints its size and mean brightness and saves it as a PNG.
 *
 *   snap [TYPE [FILE]]
 *
 * A result of 1 does not always mean the camera is there: Varnel_SetCameraType
 * returns 1 and records error 2 when no camera drive could be selected, and
 * records error 7 when the stored window did not fit the model (the whole
 * sensor is used then, and the camera works). So after that call the program
 * reads the error codes too.
 *
 * Build against an installed SDK with pkg-config (Makefile) or CMake
 * (CMakeLists.txt, find_package(VarnelSdk)).
 */
#include <stdio.h>
#include <stdlib.h>

#include "varnel.h"

/* Prints every error code pending on `camera`, newest first, and returns the
 * first one that stops the program (any but 7), or 0. */
static int ReportErrors(CameraHandle camera, const char* what) {
  int fatal = 0;
  for (int code; (code = Varnel_GetLastError(camera)) != 0;) {
    fprintf(stderr, "%s: error %d%s\n", what, code,
            code == 7 ? " (stored window replaced by the whole sensor)" : "");
    if (code != 7 && fatal == 0) fatal = code;
  }
  return fatal;
}

int main(int argc, char** argv) {
  const int type = argc > 1 ? atoi(argv[1]) : 1;
  char* file = argc > 2 ? argv[2] : "snap.png";
  int status = 1;
  CameraHandle camera = Varnel_Initialize(NULL); /* or your window: it gets 0x8003 per error */
  char names[VARNEL_MAX_DEVICES][VARNEL_DEVICE_NAME_SIZE]; /* one slot per drive letter */
  const int count = Varnel_EnumDevice(camera, &names[0][0]);
  printf("library 0x%08X, camera drives: %d\n", (unsigned)Varnel_GetDllVersion(), count);
  if (count < 1) {
    fprintf(stderr, "no camera drive attached\n");
  } else if (Varnel_SetDeviceNumber(camera, 0) && Varnel_SetCameraType(camera, type) &&
             ReportErrors(camera, "choosing the camera") == 0 && Varnel_SetColorMode(camera, 24)) {
    const int width = Varnel_Width(camera), height = Varnel_Height(camera);
    const int rowBytes = (width * 3 + 3) & ~3; /* rows padded to 4 bytes */
    unsigned char* picture = malloc((size_t)rowBytes * height);
    if (picture != NULL && Varnel_SnapShot(camera, picture, rowBytes * height, 1)) {
      double sum = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x) sum += picture[(size_t)y * rowBytes + x];
      printf("camera %s %d x %d, mean %.1f\n", names[0], width, height,
             sum / ((double)width * height * 3));
      /* A file the system does not let the library write fails without a
       * code: the result alone says so. */
      if (Varnel_SaveImage(camera, file, VARNEL_FILE_PNG)) {
        printf("saved %s\n", file);
        status = 0;
      } else {
        fprintf(stderr, "%s could not be written\n", file);
      }
    }
    free(picture);
  }
  ReportErrors(camera, "snap");
  Varnel_Close(camera);
  Varnel_Release(camera);
  return status;
}
