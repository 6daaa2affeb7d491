#include "upgrade/LibraryRecord.h"

#include "netlib/DownloadRecord.h"

#include <cstring>

namespace {

const wchar_t kNetworkLibrary[] = L"NubraSdk.dll";

// The record array's place in the loaded library, from the library's own
// section table (our image, already mapped; nothing from outside is read).
bool FindRecordArray(UINT_PTR* puStart, UINT_PTR* puSize)
{
    const auto* pBase = reinterpret_cast<const BYTE*>(::GetModuleHandleW(kNetworkLibrary));
    if (!pBase)
        return false;
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    if (pDos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_SECTION_HEADER* pSection = IMAGE_FIRST_SECTION(pNt);
    char szName[IMAGE_SIZEOF_SHORT_NAME + 1] = {};
    for (WORD i = 0; i < pNt->FileHeader.NumberOfSections; ++i, ++pSection) {
        std::memcpy(szName, pSection->Name, IMAGE_SIZEOF_SHORT_NAME);
        if (std::strcmp(szName, DOWNLOAD_RECORD_SECTION) != 0)
            continue;
        const UINT_PTR uArray = sizeof(DOWNLOAD_PROGRESS) * DOWNLOAD_RECORD_POOL_SIZE;
        *puStart = reinterpret_cast<UINT_PTR>(pBase) + pSection->VirtualAddress;
        *puSize = pSection->Misc.VirtualSize < uArray ? pSection->Misc.VirtualSize : uArray;
        return true;
    }
    return false;
}

}  // namespace

bool IsLibraryProgressRecord(const void* p)
{
    UINT_PTR uStart = 0;
    UINT_PTR uSize = 0;
    if (!p || !FindRecordArray(&uStart, &uSize))
        return false;
    const UINT_PTR u = reinterpret_cast<UINT_PTR>(p);
    if (u < uStart || u - uStart >= uSize || uSize - (u - uStart) < sizeof(DOWNLOAD_PROGRESS))
        return false;
    return (u - uStart) % sizeof(DOWNLOAD_PROGRESS) == 0;
}
