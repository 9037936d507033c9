// Display names of the contract's enumerations.
//
// Each table is a constant local to every unit that includes the contract, so every module carries its own
// copies, built while the module loads (in declaration order) and destroyed when it unloads. Modules look
// nothing up in them; hosts use them for display. A value without an entry has no name.
#pragma once

#include <QMap>
#include <QString>

#include <initializer_list>
#include <utility>

namespace vxcam_contract_detail {
// Inserting pair by pair, in list order: a repeated key keeps the last name given for it.
inline QMap<int, QString> buildNameTable(std::initializer_list<std::pair<int, const char*>> pairs) {
    QMap<int, QString> table;
    for (const auto& [key, name] : pairs) {
        table.insert(key, QString::fromLatin1(name));
    }
    return table;
}
} // namespace vxcam_contract_detail

// The family list names 100 and 110 twice, as hosts have always shipped it; the map keeps one entry per key.
// NOLINTNEXTLINE(cert-err58-cpp): the tables are built while the module loads, as hosts expect
static const QMap<int, QString> g_cameraTypeNames = vxcam_contract_detail::buildNameTable({
    {0, "Unknown(0)"},
    {100, "Virtual Camera(100)"},
    {100, "Virtual Camera(100)"},
    {110, "BitFlow(110)"},
    {110, "BitFlow(110)"},
    {120, "Gige(120)"},
    {130, "USB Camera(130)"},
    {140, "HIK(140)"},
    {150, "Vimba(150)"},
    {160, "Veyra(160)"},
    {170, "AdLink(170)"},
    {180, "DaHua(180)"},
    {190, "Basler(190)"},
    {200, "PtGray(200)"},
    {220, "Euresys(220)"},
    {230, "Dalsa(230)"},
});

// NOLINTNEXTLINE(cert-err58-cpp)
static const QMap<int, QString> g_cameraStateNames = vxcam_contract_detail::buildNameTable({
    {0, "Uninitialized"},
    {1, "Initialized"},
    {2, "Opened"},
    {3, "Running"},
    {4, "Paused"},
    {5, "Closed"},
});

// NOLINTNEXTLINE(cert-err58-cpp)
static const QMap<int, QString> g_imageFormatNames = vxcam_contract_detail::buildNameTable({
    {0, "None"},
    {1, "GRAY8"},
    {2, "RGB24"},
    {3, "RGB32"},
    {4, "GRAY16"},
    {5, "RGB48"},
    {11, "BGR24"},
    {12, "BGR32"},
});
