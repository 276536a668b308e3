#include "core/grid_filter.h"

#include <gtest/gtest.h>

using namespace quodra::core;

namespace {

struct AddressCase {
    const char* name;
    QString typed;
    QString address;
    quint16 port;
    QString error;
};

class AddressEditTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressEditTest, SplitsAddressAndPort)
{
    const AddressCase& c = GetParam();
    const AddressEdit e = parseAddressEdit(c.typed);
    EXPECT_EQ(e.error, c.error);
    EXPECT_EQ(e.ok(), c.error.isEmpty());
    // The address part counts even when the port is not a number.
    EXPECT_EQ(e.address, c.address);
    if (e.ok()) {
        EXPECT_EQ(e.port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressEditTest,
    ::testing::Values(
        AddressCase{"plain", QStringLiteral("192.168.1.5"), QStringLiteral("192.168.1.5"), 0, {}},
        AddressCase{"with_port", QStringLiteral("192.168.1.5:8080"), QStringLiteral("192.168.1.5"), 8080, {}},
        AddressCase{"port_low_16_bits", QStringLiteral("host:70000"), QStringLiteral("host"), 4464, {}},
        AddressCase{"negative_port_wraps", QStringLiteral("host:-1"), QStringLiteral("host"), 65535, {}},
        AddressCase{"first_colon_splits", QStringLiteral("a:1:2"), QStringLiteral("a"), 0,
                    QStringLiteral("'1:2' is not a valid integer value")},
        AddressCase{"port_not_number", QStringLiteral("host:abc"), QStringLiteral("host"), 0,
                    QStringLiteral("'abc' is not a valid integer value")},
        AddressCase{"port_empty", QStringLiteral("host:"), QStringLiteral("host"), 0,
                    QStringLiteral("'' is not a valid integer value")},
        AddressCase{"port_above_int", QStringLiteral("h:99999999999"), QStringLiteral("h"), 0,
                    QStringLiteral("'99999999999' is not a valid integer value")},
        AddressCase{"cut_to_50",
                    QString(60, QLatin1Char('x')) + QStringLiteral(":5"),
                    QString(50, QLatin1Char('x')),
                    5,
                    {}},
        AddressCase{"cut_to_50_no_port", QString(60, QLatin1Char('y')), QString(50, QLatin1Char('y')), 0, {}},
        AddressCase{"empty", QString(), QString(), 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextFilter, MatchesAnywhereWithoutRegardToCase)
{
    struct {
        QString field, filter;
        bool match;
    } cases[] = {
        {QStringLiteral("Teploměr"), QString(), true},
        {QStringLiteral("Teploměr"), QStringLiteral("PLOM"), true},
        {QStringLiteral("čerpadlo sever"), QStringLiteral("ČERP"), true},
        {QStringLiteral("ČERPADLO"), QStringLiteral("erpadl"), true},
        {QStringLiteral("Teploměr"), QStringLiteral("vlhko"), false},
        {QString(), QStringLiteral("a"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textFilterMatches(c.field, c.filter), c.match)
            << c.field.toStdString() << " / " << c.filter.toStdString();
}

DeviceSnapshot device(quint8 n, const char* typ, const char* popis, void (*set)(Tstav&) = nullptr)
{
    DeviceSnapshot d;
    d.number = n;
    d.konfig.typ.setText(QString::fromUtf8(typ));
    d.konfig.popis.setText(QString::fromUtf8(popis));
    if (set)
        set(d.stav);
    return d;
}

TEST(VisibleDevices, StateAndTextFiltersCombine)
{
    const std::vector<DeviceSnapshot> devices{
        device(1, "Q4", "Sklad", [](Tstav& s) { s.alarms = 0x01; }),
        device(2, "Q4", "Kotelna",
               [](Tstav& s) {
                   s.alarms = 0x04;
                   s.errorsChanged = 2;
               }),
        device(3, "Klimo", "Sklad",
               [](Tstav& s) {
                   s.trapFlag = 1;
                   s.customAlarms = 0x10000;
               }),
        device(4, "Klimo", "Dílna",
               [](Tstav& s) {
                   s.valueAlarmsChanged = 1;
                   s.customAlarmsChanged = 8;
               }),
        device(5, "q4", "dílna", nullptr),
    };
    struct Case {
        const char* name;
        GridFilterState filter;
        std::vector<quint8> visible;
    };
    const Case cases[] = {
        {"off", {}, {1, 2, 3, 4, 5}},
        {"alarms_any", {1, 0xFF, {}, {}}, {1, 2}},
        {"alarm_input_3_only", {1, 0x04, {}, {}}, {2}},
        {"custom_alarms_high_bits", {2, 0xFFFF0000u, {}, {}}, {3}},
        {"errors_none", {4, 0xFFFF, {}, {}}, {}},
        {"errors_changed", {8, 0x2, {}, {}}, {2}},
        {"custom_changed", {6, 0x8, {}, {}}, {4}},
        {"value_changed", {7, 0x1, {}, {}}, {4}},
        {"trap", {GridFilterState::kTrapMode, 0, {}, {}}, {3}},
        {"type_any_case", {0, 0, QStringLiteral("Q4"), {}}, {1, 2, 5}},
        {"description_czech_case", {0, 0, {}, QStringLiteral("DÍLNA")}, {4, 5}},
        {"state_and_type", {1, 0xFF, QStringLiteral("q4"), QStringLiteral("kot")}, {2}},
        {"masked_filter_with_zero_mask_hides_all", {1, 0, {}, {}}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(visibleDevices(devices, c.filter), c.visible) << c.name;
}

} // namespace
