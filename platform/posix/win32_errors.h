// The system error codes the platform layer produces or the library checks, with the values
// Windows gives them.
#pragma once

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_ENVIRONMENT 10L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_SEEK 25L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NOT_LOCKED 158L
#define ERROR_NOACCESS 998L
#define ERROR_IO_DEVICE 1117L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_FILE_TOO_LARGE 223L
#define ERROR_EA_LIST_INCONSISTENT 255L
#define ERROR_EA_TABLE_FULL 277L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L
#define ERROR_NOT_ENOUGH_QUOTA 1816L

// Not a Windows code: bit 29 marks an application's own codes, which Windows never sets. A
// claim refused because the process has no usable share-mode store; its text names the store.
#define ERROR_LOCK_STORE_UNUSABLE 0x20000001L
