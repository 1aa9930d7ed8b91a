/*
 * snap: the smallest application of the camera SDK. Opens the first camera
 * drive as the camera type given (default 1), takes one 24-bit colour frame,
 * prints its size and mean brightness and saves it as a PNG.
 *
 *   snap [TYPE [FILE]]
 *
 * Build against an installed SDK with pkg-config (Makefile) or CMake
 * (CMakeLists.txt, find_package(VarnelSdk)).
 */
#include <stdio.h>
#include <stdlib.h>

#include "varnel.h"

int main(int argc, char** argv) {
  const int type = argc > 1 ? atoi(argv[1]) : 1;
  char* file = argc > 2 ? argv[2] : "snap.png";
  int status = 1;
  CameraHandle camera = Varnel_Initialize(NULL);
  char names[10][256];
  const int count = Varnel_EnumDevice(camera, &names[0][0]);
  printf("library 0x%08X, camera drives: %d\n", (unsigned)Varnel_GetDllVersion(), count);
  if (count > 0 && Varnel_SetDeviceNumber(camera, 0) && Varnel_SetCameraType(camera, type) &&
      Varnel_SetColorMode(camera, 24)) {
    const int width = Varnel_Width(camera), height = Varnel_Height(camera);
    const int rowBytes = (width * 3 + 3) & ~3;
    unsigned char* picture = malloc((size_t)rowBytes * height);
    if (picture != NULL && Varnel_SnapShot(camera, picture, rowBytes * height, 1)) {
      double sum = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x) sum += picture[(size_t)y * rowBytes + x];
      printf("camera %s %d x %d, mean %.1f\n", names[0], width, height,
             sum / ((double)width * height * 3));
      if (Varnel_SaveImage(camera, file, VARNEL_FILE_PNG)) {
        printf("saved %s\n", file);
        status = 0;
      }
    }
    free(picture);
  }
  for (int code; (code = Varnel_GetLastError(camera)) != 0;) fprintf(stderr, "error %d\n", code);
  Varnel_Close(camera);
  Varnel_Release(camera);
  return status;
}
