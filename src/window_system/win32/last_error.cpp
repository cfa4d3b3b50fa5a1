// Fail and the text of our own errors on Windows. The core asks FormatMessageA for the text of
// the last error: for a move that user32 carried out but that did not end as asked, the text is
// ours; for every other error, the system's.
#include "window_system/last_error.h"

#include <algorithm>
#include <cstring>

// Here the name is the system's own: window_system.h points the core's at the call below.
#undef FormatMessageA

namespace {

DWORD OwnError;
std::string OwnText;

} // namespace

BOOL Fail(DWORD error, std::string text)
{
    OwnError = error;
    OwnText = std::move(text);
    SetLastError(error);
    return FALSE;
}

DWORD OwnFormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                        DWORD nSize, va_list* Arguments)
{
    if (dwMessageId != OwnError || OwnText.empty() || !(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer || nSize == 0)
        return FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, Arguments);
    const std::size_t length = std::min<std::size_t>(OwnText.size(), nSize - 1);
    std::memcpy(lpBuffer, OwnText.data(), length);
    lpBuffer[length] = '\0';
    return static_cast<DWORD>(length);
}
