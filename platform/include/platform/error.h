// Error numbers keep their Windows values so that traces and replies carry the same codes on
// every platform; each thread has its own last error, as on Windows.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_DATA = 13;
inline constexpr uint32_t ERROR_OUTOFMEMORY = 14;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_BROKEN_PIPE = 109;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_BAD_PATHNAME = 161;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_PIPE_BUSY = 231;
inline constexpr uint32_t ERROR_NO_DATA = 232;
inline constexpr uint32_t ERROR_PIPE_NOT_CONNECTED = 233;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_NOT_OWNER = 288;
inline constexpr uint32_t ERROR_PIPE_CONNECTED = 535;
inline constexpr uint32_t ERROR_IO_PENDING = 997;
inline constexpr uint32_t ERROR_CANTOPEN = 1011;
inline constexpr uint32_t ERROR_BADKEY = 1010;
inline constexpr uint32_t ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr uint32_t ERROR_KEY_DELETED = 1018;
inline constexpr uint32_t ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr uint32_t ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr uint32_t ERROR_PROCESS_ABORTED = 1067;
inline constexpr uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr uint32_t ERROR_SERVICE_EXISTS = 1073;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;

// Wait results.
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr uint32_t INFINITE = 0xFFFFFFFF;

uint32_t GetLastError();
void SetLastError(uint32_t error);

// The Windows number that stands for a POSIX errno value.
uint32_t ErrorFromErrno(int errnoValue);

// Sets the last error from errno and answers it; for the failure paths of system calls.
uint32_t SetLastErrorFromErrno();

}  // namespace platform
