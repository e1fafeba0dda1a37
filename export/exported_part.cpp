#include "export/exported_part.h"

#include "media/translate_text.h"

std::string FailedPartsText(const std::vector<ExportedPart>& parts) {
    std::string names;
    for (const ExportedPart& part : parts) {
        if (part.whole) continue;
        const size_t slash = part.path.rfind('/');
        names += "\n" + (slash == std::string::npos ? part.path : part.path.substr(slash + 1));
    }
    if (names.empty()) return names;
    return TranslateText("MSG_EXPORT_PART_FAILED", "These files could not be written completely:") + names;
}
