#include "desktop/language_setting.h"

namespace quarn::window {
namespace {

constexpr char kLanguageValue[] = "Lingua";
constexpr uint32_t kUnsetLanguage = 0xFFFFFFFF;

}  // namespace

Result<Language> EnsureLanguageSetting(SettingsStore& store) {
  Result<RegistryDocument> settings = store.Load();
  if (!settings) return settings.status();
  const uint32_t lingua =
      settings->ReadNumber(kProgramKey, kLanguageValue).value_or(kUnsetLanguage);
  if (lingua != kUnsetLanguage) return LanguageFromSetting(lingua);
  Status written = store.Update(
      [](RegistryDocument& document) { document.WriteNumber(kProgramKey, kLanguageValue, 0); });
  if (!written) return written;
  return Language::kItalian;
}

}  // namespace quarn::window
