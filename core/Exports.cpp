#include "core/Exports.h"

namespace {
constexpr std::array<std::string_view, kExportCount + 1> kExportNames = {
    "",
#define ZAVTA_EXPORT(ordinal, name) #name,
#include "core/Exports.def"
#undef ZAVTA_EXPORT
};

bool SameAscii(std::u16string_view wide, std::string_view narrow) {
  if (wide.size() != narrow.size()) return false;
  for (size_t i = 0; i < wide.size(); ++i)
    if (wide[i] != static_cast<char16_t>(static_cast<unsigned char>(narrow[i]))) return false;
  return true;
}
}  // namespace

std::string_view ExportName(int32_t ordinal) {
  if (ordinal < 1 || ordinal > kExportCount) return {};
  return kExportNames[static_cast<size_t>(ordinal)];
}

int32_t ExportOrdinalOf(std::u16string_view name) {
  for (int32_t ordinal = 1; ordinal <= kExportCount; ++ordinal)
    if (SameAscii(name, kExportNames[static_cast<size_t>(ordinal)])) return ordinal;
  return 0;
}

void TExportRegistry::Register(int32_t ordinal, TPrimitive routine, bool keepsNoCells, bool readsOnlyInputs) {
  if (ordinal < 1 || ordinal > kExportCount) return;
  routines_[static_cast<size_t>(ordinal)] = routine;
  keepsNoCells_[static_cast<size_t>(ordinal)] = keepsNoCells || readsOnlyInputs;
  readsOnlyInputs_[static_cast<size_t>(ordinal)] = readsOnlyInputs;
}

bool TExportRegistry::ReadsOnlyInputs(int32_t ordinal) const {
  return ordinal >= 1 && ordinal <= kExportCount && readsOnlyInputs_[static_cast<size_t>(ordinal)];
}

bool TExportRegistry::KeepsNoCells(int32_t ordinal) const {
  return ordinal >= 1 && ordinal <= kExportCount && keepsNoCells_[static_cast<size_t>(ordinal)];
}

TPrimitive TExportRegistry::Routine(int32_t ordinal) const {
  if (ordinal < 1 || ordinal > kExportCount) return nullptr;
  return routines_[static_cast<size_t>(ordinal)];
}
