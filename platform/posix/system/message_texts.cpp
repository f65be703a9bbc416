// Each text is Microsoft's published one for its code, ending in CR LF as the system's
// message table gives it. Every code of win32_errors.h has one; the one code of this
// layer's own, ERROR_LOCK_STORE_UNUSABLE, has the text its thread was last given.
#include "platform/posix/system/message_texts.h"

#include <utility>

namespace quarrow2::platform {
namespace {

thread_local WString lockStoreText;

struct SystemMessage {
    DWORD code;
    const OLECHAR* text;
};

const SystemMessage kMessages[] = {
    {ERROR_SUCCESS, OLESTR("The operation completed successfully.\r\n")},
    {ERROR_INVALID_FUNCTION, OLESTR("Incorrect function.\r\n")},
    {ERROR_FILE_NOT_FOUND, OLESTR("The system cannot find the file specified.\r\n")},
    {ERROR_PATH_NOT_FOUND, OLESTR("The system cannot find the path specified.\r\n")},
    {ERROR_TOO_MANY_OPEN_FILES, OLESTR("The system cannot open the file.\r\n")},
    {ERROR_ACCESS_DENIED, OLESTR("Access is denied.\r\n")},
    {ERROR_INVALID_HANDLE, OLESTR("The handle is invalid.\r\n")},
    {ERROR_NOT_ENOUGH_MEMORY,
     OLESTR("Not enough memory resources are available to process this command.\r\n")},
    {ERROR_BAD_ENVIRONMENT, OLESTR("The environment is incorrect.\r\n")},
    {ERROR_INVALID_DATA, OLESTR("The data is invalid.\r\n")},
    {ERROR_WRITE_PROTECT, OLESTR("The media is write protected.\r\n")},
    {ERROR_SEEK, OLESTR("The drive cannot locate a specific area or track on the disk.\r\n")},
    {ERROR_READ_FAULT, OLESTR("The system cannot read from the specified device.\r\n")},
    {ERROR_GEN_FAILURE, OLESTR("A device attached to the system is not functioning.\r\n")},
    {ERROR_SHARING_VIOLATION,
     OLESTR("The process cannot access the file because it is being used by another process.\r\n")},
    {ERROR_LOCK_VIOLATION, OLESTR("The process cannot access the file because another process has "
                                  "locked a portion of the file.\r\n")},
    {ERROR_NOT_SUPPORTED, OLESTR("The request is not supported.\r\n")},
    {ERROR_FILE_EXISTS, OLESTR("The file exists.\r\n")},
    {ERROR_INVALID_PARAMETER, OLESTR("The parameter is incorrect.\r\n")},
    {ERROR_DISK_FULL, OLESTR("There is not enough space on the disk.\r\n")},
    {ERROR_INVALID_NAME,
     OLESTR("The filename, directory name, or volume label syntax is incorrect.\r\n")},
    {ERROR_NEGATIVE_SEEK,
     OLESTR("An attempt was made to move the file pointer before the beginning of the file.\r\n")},
    {ERROR_NOT_LOCKED, OLESTR("The segment is already unlocked.\r\n")},
    {ERROR_ALREADY_EXISTS, OLESTR("Cannot create a file when that file already exists.\r\n")},
    {ERROR_FILENAME_EXCED_RANGE, OLESTR("The filename or extension is too long.\r\n")},
    {ERROR_FILE_TOO_LARGE,
     OLESTR("The file size exceeds the limit allowed and cannot be saved.\r\n")},
    {ERROR_MORE_DATA, OLESTR("More data is available.\r\n")},
    {ERROR_EA_LIST_INCONSISTENT, OLESTR("The extended attributes are inconsistent.\r\n")},
    {ERROR_EA_TABLE_FULL, OLESTR("The extended attribute table file is full.\r\n")},
    {ERROR_MR_MID_NOT_FOUND, OLESTR("The system cannot find message text for message number 0x%1 "
                                    "in the message file for %2.\r\n")},
    {ERROR_NOACCESS, OLESTR("Invalid access to memory location.\r\n")},
    {ERROR_IO_DEVICE,
     OLESTR("The request could not be performed because of an I/O device error.\r\n")},
    {ERROR_NOT_FOUND, OLESTR("Element not found.\r\n")},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     OLESTR("The specified resource language ID cannot be found in the image file.\r\n")},
    {ERROR_NOT_ENOUGH_QUOTA, OLESTR("Not enough quota is available to process this command.\r\n")},
    {ERROR_CANT_RESOLVE_FILENAME,
     OLESTR("The name of the file cannot be resolved by the system.\r\n")},
};

}  // namespace

const OLECHAR* SystemMessageText(DWORD code) {
    if (code == ERROR_LOCK_STORE_UNUSABLE)
        return lockStoreText.empty() ? OLESTR("The share-mode store cannot be used.\r\n")
                                     : lockStoreText.c_str();
    for (const SystemMessage& m : kMessages)
        if (m.code == code) return m.text;
    return nullptr;
}

void SetLockStoreText(WString text) { lockStoreText = std::move(text); }

}  // namespace quarrow2::platform
