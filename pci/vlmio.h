/* The PCI configuration access library: the six entries every access library exports,
 * with a C ABI and undecorated names, plus the optional entries of the emulated PC, and the
 * library's file name on this platform. */
#ifndef PCI_VLMIO_H
#define PCI_VLMIO_H

#include <stdint.h>

#if defined(_WIN32)
#define VLMIO_API __declspec(dllexport)
#define VLMIO_CALL __cdecl
#define VLMIO_LIBRARY_FILE "vlmiodll.dll"
#else
#define VLMIO_API __attribute__((visibility("default")))
#define VLMIO_CALL
#define VLMIO_LIBRARY_FILE "libvlmio.so"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero: configuration access is ready. */
VLMIO_API uint32_t VLMIO_CALL LoadVlmIODriver(void);
/* Harmless when nothing is loaded. */
VLMIO_API void VLMIO_CALL UnloadVlmIODriver(void);
VLMIO_API uint32_t VLMIO_CALL PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                                            uint32_t offset);
VLMIO_API uint32_t VLMIO_CALL PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                             uint32_t offset);
VLMIO_API void VLMIO_CALL PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function,
                                         uint32_t offset, uint32_t value);
VLMIO_API void VLMIO_CALL PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                                          uint32_t offset, uint32_t value);
/* Optional (the Linux hardware library exports it): the errno of the first access to that
 * function since the load that the system refused (EPERM, EACCES, EIO, ENODEV, ...), 0 when
 * none was. */
VLMIO_API uint32_t VLMIO_CALL VlmIoAccessError(uint32_t bus, uint32_t device, uint32_t function);
/* Optional (the Linux hardware library exports it): non-zero, the errno every configuration
 * write would get (EPERM), when the kernel refuses them all (its lockdown); 0 when it does not,
 * or when that is not known. Answers also before the load. */
VLMIO_API uint32_t VLMIO_CALL VlmIoWritesRefused(void);
/* Only the emulated PC exports this; it returns 1. */
VLMIO_API uint32_t VLMIO_CALL VlmIoIsEmulated(void);
/* Only the emulated PC exports this: 1 once one of its flash files could not be written back
 * (the file may not hold what the run wrote), else 0. */
VLMIO_API uint32_t VLMIO_CALL VlmIoFlashNotSaved(void);

#ifdef __cplusplus
}
#endif

/* Names of the entries, as the loaders look them up. */
#define VLMIO_ENTRY_LOAD "LoadVlmIODriver"
#define VLMIO_ENTRY_UNLOAD "UnloadVlmIODriver"
#define VLMIO_ENTRY_READ_BYTE "PCI_Read_BYTE"
#define VLMIO_ENTRY_READ_DWORD "PCI_Read_DWORD"
#define VLMIO_ENTRY_WRITE_BYTE "PCI_Write_Byte"
#define VLMIO_ENTRY_WRITE_DWORD "PCI_Write_DWORD"
#define VLMIO_ENTRY_IS_EMULATED "VlmIoIsEmulated"
#define VLMIO_ENTRY_FLASH_NOT_SAVED "VlmIoFlashNotSaved"
#define VLMIO_ENTRY_ACCESS_ERROR "VlmIoAccessError"
#define VLMIO_ENTRY_WRITES_REFUSED "VlmIoWritesRefused"

#endif
