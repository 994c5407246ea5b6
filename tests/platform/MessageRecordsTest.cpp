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

namespace {

TEST(MessageRecordsTest, NestedRecordsAreMadeOnDemandAndCopiedDeeply) {
    CNMessageBase message(101, 93);
    EXPECT_EQ(nullptr, message.getObjectAccessor(false, true, 1, 1, 0x65F4850C, 0xB4E5D0, 101, 1));

    CNMessageBase **ppNested =
        message.getObjectAccessor(true, true, 1, 1, 0x65F4850C, 0xB4E5D0, 101, 1);
    ASSERT_NE(nullptr, ppNested);
    ASSERT_NE(nullptr, *ppNested);
    EXPECT_EQ(101, (*ppNested)->GetFamily());
    EXPECT_EQ(1, (*ppNested)->GetType());
    (*ppNested)->setstring(13, 16, "id-1");
    // Fields added later leave the accessor's address good, and asking again gives the same one.
    message.setint64(5, 5, 7);
    message.setstring(6, 6, "six");
    EXPECT_EQ(ppNested, message.getObjectAccessor(true, true, 1, 1, 0, 0, 101, 1));
    EXPECT_TRUE(message.isSet(1));

    CNMessageBase copy(message);
    CNMessageBase assigned(0, 0);
    assigned = message;
    (*ppNested)->setstring(13, 16, "changed");

    for (const CNMessageBase *pRecord : {&copy, &assigned}) {
        const CNMessageBase *pNested = pRecord->getObject(1, 1);
        ASSERT_NE(nullptr, pNested);
        EXPECT_EQ("id-1", pNested->getstring(13, 16));
        EXPECT_EQ(101, pRecord->GetFamily());
        EXPECT_EQ(93, pRecord->GetType());
    }
    EXPECT_EQ("changed", message.getObject(1, 1)->getstring(13, 16));
    // A record field is neither text nor integer, and the wrong index finds no record.
    EXPECT_EQ("", message.getstring(1, 1));
    EXPECT_EQ(0, message.getint64(1));
    EXPECT_EQ(nullptr, message.getObject(2, 1));
}

TEST(MessageRecordsTest, SetObjectStoresACopyThatOutlivesTheOriginal) {
    CNMessageBase command(48, 168);
    {
        auto *pCloud = new CNMessageBase(101, 150);
        pCloud->setstring(1, 1, "cloud-item");
        EXPECT_EQ(0, command.setObjectAccessor(pCloud, 69, 69, 0x65F4850C, 0x001AB884));
        delete pCloud;
    }
    const CNMessageBase *pStored = command.getObject(69, 69);
    ASSERT_NE(nullptr, pStored);
    EXPECT_EQ("cloud-item", pStored->getstring(1, 1));
    EXPECT_EQ(150, pStored->GetType());

    EXPECT_EQ(1, command.setObjectAccessor(nullptr, 69, 69));
    EXPECT_NE(nullptr, command.getObject(69, 69));
    // A record stored into a field of itself is copied before the field lets go of it.
    CNMessageBase self(1, 2);
    self.setstring(3, 3, "x");
    EXPECT_EQ(0, self.setObjectAccessor(&self, 3, 3));
    ASSERT_NE(nullptr, self.getObject(3, 3));
    EXPECT_EQ("x", self.getObject(3, 3)->getstring(3, 3));
}

TEST(MessageRecordsTest, SerializeWritesEveryFieldAsXml) {
    CNMessageBase message(48, 216);
    message.setint64(1, 1, 2);
    CNMessageBase **ppFile = message.getObjectAccessor(true, true, 2, 2, 0, 0, 48, 168);
    (*ppFile)->setstring(12, 12, "/a & <b>");

    std::string strXml;
    EXPECT_EQ(0, message.serialize(strXml, false));
    EXPECT_EQ("<Message family=\"48\" type=\"216\"><Field index=\"1\" tag=\"1\" int64=\"2\"/>"
              "<Field index=\"2\" tag=\"2\"><Message family=\"48\" type=\"168\"><Field "
              "index=\"12\" tag=\"12\" string=\"/a &amp; &lt;b>\"/></Message></Field>"
              "</Message>",
              strXml);
    std::string strIndented;
    message.serialize(strIndented, true);
    EXPECT_NE(std::string::npos, strIndented.find('\n'));
}

} // namespace
