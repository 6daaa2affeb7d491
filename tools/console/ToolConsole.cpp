// The support tools' standard streams (see ToolConsole.h).
#include "tools/console/ToolConsole.h"

void ToolWriteBytes(HANDLE hOut, const std::string& strBytes)
{
    DWORD dwWritten = 0;
    for (size_t nPos = 0; nPos < strBytes.size();) {
        const size_t nLeft = strBytes.size() - nPos;
        const DWORD dwWant = static_cast<DWORD>(nLeft < (1u << 20) ? nLeft : (1u << 20));
        // A reader that went away ends the output; the tool's exit code
        // still tells what it did.
        if (!WriteFile(hOut, strBytes.data() + nPos, dwWant, &dwWritten, NULL) || dwWritten == 0)
            return;
        nPos += dwWritten;
    }
}

void ToolWriteText(DWORD nStdHandle, const std::wstring& strText)
{
    HANDLE hOut = GetStdHandle(nStdHandle);
    if (hOut == NULL || hOut == INVALID_HANDLE_VALUE)
        return;
    DWORD dwMode = 0;
    DWORD dwWritten = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        // In pieces: very long console writes fail on some systems. A piece
        // never ends between the two halves of a surrogate pair.
        const size_t kChunk = 8192;
        for (size_t nPos = 0; nPos < strText.size();) {
            size_t nCount = strText.size() - nPos < kChunk ? strText.size() - nPos : kChunk;
            if (nPos + nCount < strText.size() && IS_HIGH_SURROGATE(strText[nPos + nCount - 1]))
                --nCount;
            WriteConsoleW(hOut, strText.data() + nPos, static_cast<DWORD>(nCount), &dwWritten, NULL);
            nPos += nCount;
        }
        return;
    }
    ToolWriteBytes(hOut, WideToUtf8(strText));
}
