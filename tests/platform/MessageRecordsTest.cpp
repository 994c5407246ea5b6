#include "platform/MessageRecords.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageRecordsTest, CatalogueOptionsCarryTheWebServiceSettings) {
    VirtualServer::VMCatalogOptions options;
    EXPECT_EQ(options.GetFamily(), 26);
    EXPECT_EQ(options.GetType(), 127);
    // An empty record reads as zeros and empty texts.
    EXPECT_EQ(options.getint64(63), 0);
    EXPECT_EQ(options.getstring(28, 64), "");
    EXPECT_FALSE(options.isSet(28));

    EXPECT_EQ(options.setint64(27, 63, 0x100000002LL, 0x1234u, 0x5678u), 0);
    EXPECT_EQ(options.setstring(28, 64, "http://ws.local:81/api"), 0);
    EXPECT_EQ(options.getint64(63), 0x100000002LL);
    EXPECT_EQ(static_cast<int32_t>(options.getint64(63)), 2);
    EXPECT_EQ(options.getstring(28, 64), "http://ws.local:81/api");
    EXPECT_EQ(options.getstringByRef(28, 64), "http://ws.local:81/api");
    EXPECT_TRUE(options.isSet(28));
    EXPECT_TRUE(options.isSet(27));

    // A text is read by index and tag together; an integer field is no text and back.
    EXPECT_EQ(options.getstring(29, 64), "");
    EXPECT_EQ(options.getstring(27, 63), "");
    EXPECT_EQ(options.getint64(64), 0);
}

TEST(MessageRecordsTest, RecordsCopyByValueAndFieldsOverwrite) {
    VirtualServer::VMCatalogOptions first;
    first.setstring(2, 2, "hypervisor-a");
    first.setint64(0, 19, 77);

    VirtualServer::VMCatalogOptions copy(first);
    VirtualServer::VMCatalogOptions assigned;
    assigned = first;
    first.setstring(2, 2, "hypervisor-b");
    first.setint64(0, 19, -5);

    EXPECT_EQ(copy.getstring(2, 2), "hypervisor-a");
    EXPECT_EQ(assigned.getint64(19), 77);
    EXPECT_EQ(first.getstring(2, 2), "hypervisor-b");
    EXPECT_EQ(first.getint64(19), -5);

    // A tag set again takes its new type.
    first.setint64(2, 2, 9);
    EXPECT_EQ(first.getstring(2, 2), "");
    EXPECT_EQ(first.getint64(2), 9);

    first.Clear();
    EXPECT_FALSE(first.isSet(2));
    EXPECT_EQ(first.GetFamily(), 26);
}

} // namespace
