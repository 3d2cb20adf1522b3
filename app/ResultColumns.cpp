#include "app/ResultColumns.h"

namespace {

constexpr uint8_t kMainResultWidths[MAIN_RESULT_COLUMN_COUNT] = {45, 80, 48, 48, 154, 112, 32, 100, 70, 74,
                                                                  74, 110, 70, 70, 65, 60, 60, 60, 60};
constexpr uint8_t kConfigSettingWidths[CONFIG_SETTING_COLUMN_COUNT] = {55, 40, 40, 40, 40, 40, 40, 40, 40, 65};

template <size_t N>
void vResetTable(ListColumnHeader (&table)[N], const uint8_t (&widths)[N])
{
    for (size_t i = 0; i < N; ++i)
        table[i] = {static_cast<uint8_t>(i), widths[i], std::string()};
}

}  // namespace

ListColumnHeader MainResultColumns[MAIN_RESULT_COLUMN_COUNT] = {
    {0, 45, {}},   {1, 80, {}},   {2, 48, {}},  {3, 48, {}},  {4, 154, {}}, {5, 112, {}}, {6, 32, {}},
    {7, 100, {}},  {8, 70, {}},   {9, 74, {}},  {10, 74, {}}, {11, 110, {}}, {12, 70, {}}, {13, 70, {}},
    {14, 65, {}},  {15, 60, {}},  {16, 60, {}}, {17, 60, {}}, {18, 60, {}},
};

ListColumnHeader ConfigSettingColumns[CONFIG_SETTING_COLUMN_COUNT] = {
    {0, 55, {}}, {1, 40, {}}, {2, 40, {}}, {3, 40, {}}, {4, 40, {}},
    {5, 40, {}}, {6, 40, {}}, {7, 40, {}}, {8, 40, {}}, {9, 65, {}},
};

void vInitListColumnHeaders()
{
    vResetTable(MainResultColumns, kMainResultWidths);
    vResetTable(ConfigSettingColumns, kConfigSettingWidths);
}
