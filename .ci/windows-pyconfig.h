/* The configuration header of a 64-bit Windows CPython, reduced to what the
   limited API's headers read: with it, CPython's own headers (taken from any
   host interpreter) compile the binding layer with the mingw-w64 cross
   compiler, as a check of what Windows sees (a C long of 32 bits, no POSIX
   headers, PyMODINIT_FUNC exporting through __declspec(dllexport)). Used by
   .ci/run for compiling only; nothing is linked against it. */
#ifndef VERRAKIN_CHECK_WINDOWS_PYCONFIG_H
#define VERRAKIN_CHECK_WINDOWS_PYCONFIG_H

#define MS_WIN64
#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_VOID_P 8
#define SIZEOF_UINTPTR_T 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_TIME_T 8
#define SIZEOF_FPOS_T 8
#define ALIGNOF_LONG 4
#define ALIGNOF_SIZE_T 8
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1

#define HAVE_SSIZE_T 1
#define HAVE_WCHAR_H 1
#define HAVE_STDARG_PROTOTYPES 1

#endif
