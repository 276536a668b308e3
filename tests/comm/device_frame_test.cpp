// The frame codec against bytes written out by hand, so the layout on the wire is checked by
// something other than the simulator, which uses the same codec.

#include "comm/device_frame.h"

#include <gtest/gtest.h>

using namespace quodra;
using comm::DeviceFrame;

TEST(DeviceFrame, RequestsAsSentOnTheWire)
{
    QByteArray register412;
    comm::appendU16(register412, 412 + 7 * 3);
    register412.append(char(1));
    QByteArray big(1100, 'x');
    struct Row {
        const char* name;
        DeviceFrame frame;
        QByteArray bytes;
    } rows[] = {
        {"status, no data", DeviceFrame::request('G', 'S'), QByteArray("#GS\0\0\0", 6)},
        {"register read: little-endian address and length", DeviceFrame::request('X', 'R', 0, register412),
         QByteArray("#XR\0\x03\x00\xB1\x01\x01", 9)},
        {"relay on, output index in the parameter", DeviceFrame::request('R', '1', 5),
         QByteArray("#R1\x05\0\0", 6)},
        {"data cut at the 1025-byte area", DeviceFrame::request('I', 'A', 0, big),
         QByteArray("#IA\0\x01\x04", 6) + QByteArray(1025, 'x')},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.frame.encode().toHex(' '), r.bytes.toHex(' ')) << r.name;
}

TEST(DeviceFrame, RepliesAreDecodedOnlyWhenWhole)
{
    const QByteArray data300(300, '\x5A');
    struct Row {
        const char* name;
        QByteArray bytes;
        bool valid;
        char letter2;
        int parameter;
        QByteArray data;
    } rows[] = {
        {"login accepted, no data", QByteArray("#IA\x01\0\0", 6), true, 'A', 1, {}},
        {"start byte not checked", QByteArray("?GS\0\x02\0\x07\x08", 8), true, 'S', 0,
         QByteArray("\x07\x08")},
        {"length above 255 read little-endian", QByteArray("#XR\0\x2C\x01", 6) + data300, true, 'R', 0,
         data300},
        {"bytes after the announced data ignored", QByteArray("#GR\0\x01\0\x09\x09", 8), true, 'R', 0,
         QByteArray("\x09")},
        {"largest data area", QByteArray("#XR\0\x01\x04", 6) + QByteArray(1025, 'y'), true, 'R', 0,
         QByteArray(1025, 'y')},
        {"length above the data area",
         QByteArray("#XR\0\x02\x04", 6) + QByteArray(1026, 'y'),
         false,
         0,
         0,
         {}},
        {"fewer data bytes than announced", QByteArray("#GV\0\x06\0\x01\x02", 8), false, 0, 0, {}},
        {"header cut short", QByteArray("#GS\0\0", 5), false, 0, 0, {}},
        {"nothing", QByteArray(), false, 0, 0, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto frame = comm::decodeFrame(r.bytes);
        ASSERT_EQ(frame.has_value(), r.valid);
        if (!frame)
            continue;
        EXPECT_EQ(frame->letter2, r.letter2);
        EXPECT_EQ(frame->parameter, r.parameter);
        EXPECT_EQ(frame->data, r.data);
    }
}

TEST(DeviceFrame, FieldReadersStopAtTheEndOfTheData)
{
    const QByteArray data("\x01\x02\x03\x04\x05", 5);
    EXPECT_EQ(comm::readU8(data, 4), 0x05);
    EXPECT_EQ(comm::readU16(data, 3), 0x0504);
    EXPECT_EQ(comm::readU32(data, 1), 0x05040302u);
    EXPECT_FALSE(comm::readU8(data, 5));
    EXPECT_FALSE(comm::readU16(data, 4));
    EXPECT_FALSE(comm::readU32(data, 2));
    EXPECT_FALSE(comm::readU8(data, -1));
}
