#include "media/translate_text.h"

#include "platform/ini_file.h"
#include "platform/program_folder.h"

std::atomic<int> LanguageIndex{0};

namespace {

const char* const kLanguageFiles[] = {"en-US.txt", "zh-CN.txt", "zh-TW.txt", "es-ES.txt",
                                      "it-IT.txt", "de-DE.txt", "fr-FR.txt"};

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (size_t pos = text->find(from); pos != std::string::npos; pos = text->find(from, pos + to.size()))
        text->replace(pos, from.size(), to);
}

}  // namespace

std::string TranslateTextIn(const std::string& lang_folder, int index, const std::string& key,
                            const std::string& def, const std::string& p0, const std::string& p1,
                            const std::string& p2, const std::string& p3) {
    std::string text = def;
    if (index >= 0 && index < static_cast<int>(std::size(kLanguageFiles)))
        text = platform::GetProfileString("language", key, def, 200, lang_folder + "/" + kLanguageFiles[index]);
    const std::string* params[] = {&p0, &p1, &p2, &p3};
    for (int i = 0; i < 4; ++i)
        if (!params[i]->empty()) ReplaceAll(&text, "{" + std::to_string(i) + "}", *params[i]);
    return text;
}

std::string TranslateText(const std::string& key, const std::string& def, const std::string& p0,
                          const std::string& p1, const std::string& p2, const std::string& p3) {
    return TranslateTextIn(platform::ProgramFolder() + "/lang", LanguageIndex.load(), key, def, p0, p1, p2, p3);
}
