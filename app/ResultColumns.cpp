#include "app/ResultColumns.h"

#include <algorithm>

namespace {

constexpr ListColumnPlace kProductionMainResult[MAIN_RESULT_COLUMN_COUNT] = {
    {0, 45}, {1, 80},  {2, 48},   {3, 48},  {4, 154}, {5, 112}, {6, 32},  {7, 100}, {8, 70}, {9, 74},
    {10, 74}, {11, 110}, {12, 70}, {13, 70}, {14, 65}, {15, 60}, {16, 60}, {17, 60}, {18, 60},
};
constexpr uint8_t kConfigSettingWidths[CONFIG_SETTING_COLUMN_COUNT] = {55, 40, 40, 40, 40, 40, 40, 40, 40, 65};

}  // namespace

ListColumnHeader MainResultColumns[MAIN_RESULT_COLUMN_COUNT] = {
    {0, 45, {}},   {1, 80, {}},   {2, 48, {}},  {3, 48, {}},  {4, 154, {}}, {5, 112, {}}, {6, 32, {}},
    {7, 100, {}},  {8, 70, {}},   {9, 74, {}},  {10, 74, {}}, {11, 110, {}}, {12, 70, {}}, {13, 70, {}},
    {14, 65, {}},  {15, 60, {}},  {16, 60, {}}, {17, 60, {}}, {18, 60, {}},
};
int MainResultColumnCount = MAIN_RESULT_COLUMN_COUNT;

ListColumnHeader ConfigSettingColumns[CONFIG_SETTING_COLUMN_COUNT] = {
    {0, 55, {}}, {1, 40, {}}, {2, 40, {}}, {3, 40, {}}, {4, 40, {}},
    {5, 40, {}}, {6, 40, {}}, {7, 40, {}}, {8, 40, {}}, {9, 65, {}},
};

std::span<const ListColumnPlace> ProductionMainResultPlaces() { return kProductionMainResult; }

void vInitListColumnHeaders(std::span<const ListColumnPlace> mainResult)
{
    MainResultColumnCount = static_cast<int>(std::min<size_t>(mainResult.size(), MAIN_RESULT_COLUMN_COUNT));
    for (int i = 0; i < MAIN_RESULT_COLUMN_COUNT; ++i)
        MainResultColumns[i] = i < MainResultColumnCount
                                   ? ListColumnHeader{mainResult[i].ucIndex, mainResult[i].ucWidth, std::string()}
                                   : ListColumnHeader{static_cast<uint8_t>(i), 0, std::string()};
    for (int i = 0; i < CONFIG_SETTING_COLUMN_COUNT; ++i)
        ConfigSettingColumns[i] = {static_cast<uint8_t>(i), kConfigSettingWidths[i], std::string()};
}
