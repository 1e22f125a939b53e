#include "platform/error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;
}

uint32_t GetLastError() { return t_lastError; }

void SetLastError(uint32_t error) { t_lastError = error; }

uint32_t ErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ECONNREFUSED: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE:
    case ECONNRESET: return ERROR_BROKEN_PIPE;
    case EAGAIN: return ERROR_IO_PENDING;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENOTCONN: return ERROR_PIPE_NOT_CONNECTED;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_INVALID_DATA;
  }
}

uint32_t SetLastErrorFromErrno() {
  uint32_t error = ErrorFromErrno(errno);
  SetLastError(error);
  return error;
}

}  // namespace platform
