#include "ui/lang_table.h"

#include <array>

namespace utils::ui {
namespace {

struct LanguageLibrary {
  LANGID language;
  const wchar_t* fileName;
};

constexpr std::array<LanguageLibrary, 33> kLanguageLibraries{{
    {0x0401, L"VskStackARA.dll"},  {0x0402, L"VskStackBG.dll"},  {0x0404, L"VskStackCHT.dll"},
    {0x0405, L"VskStackCZE.dll"},  {0x0406, L"VskStackDAN.dll"}, {0x0407, L"VskStackGER.dll"},
    {0x0408, L"VskStackGRE.dll"},  {0x040A, L"VskStackESP.dll"}, {0x040B, L"VskStackFIN.dll"},
    {0x040C, L"VskStackFRA.dll"},  {0x040D, L"VskStackHEB.dll"}, {0x040E, L"VskStackHUN.dll"},
    {0x0410, L"VskStackITA.dll"},  {0x0411, L"VskStackJPN.dll"}, {0x0412, L"VskStackKOR.dll"},
    {0x0413, L"VskStackDUT.dll"},  {0x0414, L"VskStackNOR.dll"}, {0x0415, L"VskStackPOL.dll"},
    {0x0416, L"VskStackPORB.dll"}, {0x0418, L"VskStackROM.dll"}, {0x0419, L"VskStackRUS.dll"},
    {0x041A, L"VskStackCRO.dll"},  {0x041B, L"VskStackSK.dll"},  {0x041D, L"VskStackSWE.dll"},
    {0x041F, L"VskStackTUR.dll"},  {0x0424, L"VskStackSL.dll"},  {0x0425, L"VskStackET.dll"},
    {0x0426, L"VskStackLV.dll"},   {0x0427, L"VskStackLT.dll"},  {0x0804, L"VskStackCHS.dll"},
    {0x0816, L"VskStackPORE.dll"}, {0x0C04, L"VskStackCHT.dll"}, {0x0C0A, L"VskStackESP.dll"},
}};

}  // namespace

const wchar_t* languageLibraryFileName(LANGID language) {
  for (const LanguageLibrary& row : kLanguageLibraries) {
    if (row.language == language) return row.fileName;
  }
  return nullptr;
}

}  // namespace utils::ui
