"""Loading libVarnelSdk_Rade.so and declaring the functions the package calls."""

import ctypes
import ctypes.util
import os
import subprocess
import sysconfig

_LIBRARY_NAME = "libVarnelSdk_Rade.so"

CameraHandle = ctypes.c_size_t  # uintptr_t
HWND = ctypes.c_void_p

# VARNEL_MAX_DEVICES and VARNEL_DEVICE_NAME_SIZE of varnel.h: the room
# Varnel_EnumDevice writes into (one slot per drive letter).
MAX_DEVICES = 26
DEVICE_NAME_SIZE = 256


def device_names(lib, handle):
    """The camera drives Varnel_EnumDevice lists, in a buffer of the safe size."""
    names = ctypes.create_string_buffer(MAX_DEVICES * DEVICE_NAME_SIZE)
    count = lib.Varnel_EnumDevice(handle, names)
    slots = range(min(count, MAX_DEVICES))
    return [
        names.raw[i * DEVICE_NAME_SIZE:(i + 1) * DEVICE_NAME_SIZE].split(b"\0", 1)[0].decode()
        for i in slots
    ]


class FrameInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("bitsPerPixel", ctypes.c_int32),
        ("frameRate", ctypes.c_int32),
        ("reserved", ctypes.c_int32),
    ]


class CameraInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_int32),
        ("maxWidth", ctypes.c_int32),
        ("maxHeight", ctypes.c_int32),
        ("gainMin", ctypes.c_int32),
        ("gainMax", ctypes.c_int32),
        ("colorGainMin", ctypes.c_int32),
        ("colorGainMax", ctypes.c_int32),
        ("exposureMin", ctypes.c_int32),
        ("exposureMax", ctypes.c_int32),
    ]


class PosixMessage(ctypes.Structure):
    _fields_ = [
        ("message", ctypes.c_uint32),
        ("wParam", ctypes.c_size_t),
        ("lParam", ctypes.c_ssize_t),
    ]


_c_int = ctypes.c_int
_c_int_p = ctypes.POINTER(ctypes.c_int)

# name: (result type, argument types)
_PROTOTYPES = {
    "Varnel_GetDllVersion": (ctypes.c_uint32, []),
    "Varnel_Initialize": (CameraHandle, [HWND]),
    "Varnel_Release": (_c_int, [CameraHandle]),
    "Varnel_GetLastError": (_c_int, [CameraHandle]),
    "Varnel_EnumDevice": (_c_int, [CameraHandle, ctypes.c_char_p]),
    "Varnel_SetDeviceNumber": (_c_int, [CameraHandle, _c_int]),
    "Varnel_SetCameraType": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetCameraType": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetCameraInfo": (_c_int, [CameraHandle, ctypes.POINTER(CameraInfo)]),
    "Varnel_SetCaptureWindowEx": (_c_int, [CameraHandle] + [_c_int] * 6),
    "Varnel_GetCaptureWindowEx": (_c_int, [CameraHandle] + [_c_int_p] * 6),
    "Varnel_Width": (_c_int, [CameraHandle]),
    "Varnel_Height": (_c_int, [CameraHandle]),
    "Varnel_SetColorMode": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetColorMode": (_c_int, [CameraHandle]),
    "Varnel_SetSubSample": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetSubSample": (_c_int, [CameraHandle]),
    "Varnel_SetWaitTime": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetWaitTime": (_c_int, [CameraHandle]),
    "Varnel_SetMirrorV": (_c_int, [CameraHandle, _c_int]),
    "Varnel_SetMirrorH": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetMirrorV": (_c_int, [CameraHandle]),
    "Varnel_GetMirrorH": (_c_int, [CameraHandle]),
    "Varnel_SetAutoIris": (_c_int, [CameraHandle, _c_int]),
    "Varnel_GetAutoIris": (_c_int, [CameraHandle, _c_int_p]),
    "Varnel_WriteRegister": (_c_int, [CameraHandle, _c_int, _c_int]),
    "Varnel_ReadRegister": (_c_int, [CameraHandle, _c_int, _c_int_p]),
    "Varnel_SetFilterValue": (_c_int, [CameraHandle, _c_int, _c_int]),
    "Varnel_GetFilterValue": (_c_int, [CameraHandle, _c_int, _c_int_p]),
    "Varnel_CallBackPreview": (_c_int, [CameraHandle, HWND, ctypes.c_void_p, _c_int, _c_int]),
    "Varnel_SnapShot": (_c_int, [CameraHandle, ctypes.c_void_p, _c_int, _c_int]),
    "Varnel_Trigger": (_c_int, [CameraHandle, HWND, ctypes.c_void_p, _c_int, _c_int]),
    "Varnel_StopPreview": (_c_int, [CameraHandle]),
    "Varnel_Close": (_c_int, [CameraHandle]),
    "Varnel_GetImage": (_c_int, [CameraHandle, ctypes.c_void_p, _c_int, _c_int]),
    "Varnel_SaveImage": (_c_int, [CameraHandle, ctypes.c_char_p, _c_int]),
    "VarnelPosix_CreateMessageQueue": (HWND, []),
    "VarnelPosix_DestroyMessageQueue": (None, [HWND]),
    "VarnelPosix_ReadMessage": (_c_int, [HWND, ctypes.POINTER(PosixMessage), _c_int]),
}


def _pkg_config_libdir():
    try:
        result = subprocess.run(
            ["pkg-config", "--variable=libdir", "varnel-sdk"],
            capture_output=True, text=True, timeout=30, check=False)
    except (OSError, subprocess.SubprocessError):
        return None
    return result.stdout.strip() if result.returncode == 0 else None


def _multiarch():
    return sysconfig.get_config_var("MULTIARCH") or ""


def _candidates():
    explicit = os.environ.get("VARNEL_LIBRARY")
    if explicit:
        yield explicit
        return
    # An installed SDK: the linker cache (the Debian package, or a prefix
    # whose lib directory ldconfig knows), then the prefix pkg-config names
    # (any prefix on its search path), then the usual prefixes, whose
    # library a plain `cmake --install` leaves outside the cache until
    # ldconfig runs.
    found = ctypes.util.find_library("VarnelSdk_Rade")
    if found:
        yield found
    yield _LIBRARY_NAME
    libdir = _pkg_config_libdir()
    if libdir:
        yield os.path.join(libdir, _LIBRARY_NAME)
    for prefix in ("/usr/local", "/usr"):
        for lib in ("lib", "lib64", os.path.join("lib", _multiarch())):
            yield os.path.join(prefix, lib, _LIBRARY_NAME)
    # Run from a source checkout: the native build tree next to python/.
    here = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(here, "..", "..", "build", "native", "bin", _LIBRARY_NAME)


_library = None


def library():
    """The loaded library with its prototypes declared (loaded on first use)."""
    global _library
    if _library is not None:
        return _library
    errors = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(f"{candidate}: {error}")
            continue
        for name, (result, arguments) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = result
            function.argtypes = arguments
        _library = lib
        return lib
    raise OSError(
        "cannot load the camera library (set VARNEL_LIBRARY to the path of "
        f"{_LIBRARY_NAME}): " + "; ".join(errors)
    )
