#include "support/pe_sections.h"

#include <cstring>

namespace kvshake::testing {

LoadedSection FindLoadedSection(HMODULE module, const char* name) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::strncmp(reinterpret_cast<const char*>(section->Name), name,
                         IMAGE_SIZEOF_SHORT_NAME) == 0) {
            return {base + section->VirtualAddress, section->Misc.VirtualSize,
                    section->Characteristics};
        }
    }
    return {};
}

}  // namespace kvshake::testing
