#include "platform/MessageRecords.h"

#include <cstdint>
#include <string>
#include <vector>

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

// A record with every kind of field: integers, texts, a nested record and a list of records.
CNMessageBase MakeNestedRecord() {
    CNMessageBase entity(18, 4);
    entity.setstring(1, 1, "index-node <&> \"one\"");
    entity.setint64(0, 0, -7);
    CNMessageBase holder(30, 491);
    for (const char *szName : {"a", "x"}) {
        CNMessageBase entry(30, 490);
        entry.setstring(1, 1, szName);
        entry.setstring(2, 5, std::string(szName) + "=1/2&b");
        holder.addlistobject(1, 1, entry);
    }
    CNMessageBase record(13, 995);
    record.setstring(1, 1, "http://127.0.0.1:1/solr/c/update");
    record.setint64(12, 21, INT64_MIN);
    record.setObjectAccessor(entity, 9, 18);
    record.setObjectAccessor(holder, 8, 17);
    return record;
}

TEST(MessageRecordsTest, NestedRecordsAndListsSurviveTheXmlForm) {
    CNMessageBase record = MakeNestedRecord();
    std::string strXml;
    ASSERT_EQ(record.serialize(strXml, false), 0);

    CNMessageBase read(13, 995);
    ASSERT_EQ(read.unserialize(strXml), 0) << strXml;
    EXPECT_EQ(read.getstring(1, 1), "http://127.0.0.1:1/solr/c/update");
    EXPECT_EQ(read.getint64(21), INT64_MIN);
    ASSERT_TRUE(read.isSet(9));
    CNMessageBase **ppEntity = read.getObjectAccessor(false, false, 9, 18, 0, 0, 18, 4);
    ASSERT_TRUE(ppEntity != nullptr && *ppEntity != nullptr);
    EXPECT_EQ((*ppEntity)->getstring(1, 1), "index-node <&> \"one\"");
    EXPECT_EQ((*ppEntity)->getint64(0), -7);
    // Asked as another record type, or at an absent field, the nested record is not there.
    EXPECT_EQ(read.getObjectAccessor(false, false, 9, 18, 0, 0, 13, 1075), nullptr);
    EXPECT_EQ(read.getObjectAccessor(false, false, 14, 23, 0, 0, 13, 1075), nullptr);

    CNMessageBase **ppHolder = read.getObjectAccessor(false, false, 8, 17, 0, 0, 30, 491);
    ASSERT_TRUE(ppHolder != nullptr);
    std::vector<CNMessageBase> **ppList = (*ppHolder)->getlistobject(1, 1, 0, 0, false);
    ASSERT_TRUE(ppList != nullptr && *ppList != nullptr);
    ASSERT_EQ((*ppList)->size(), 2u);
    EXPECT_EQ((**ppList)[1].getstring(1, 1), "x");
    EXPECT_EQ((**ppList)[1].getstring(2, 5), "x=1/2&b");

    // Copies are deep: changing the copy's nested record leaves the original alone.
    CNMessageBase copy(read);
    (*copy.getObjectAccessor(false, false, 9, 18, 0, 0, 18, 4))->setstring(1, 1, "changed");
    EXPECT_EQ((*read.getObjectAccessor(false, false, 9, 18, 0, 0, 18, 4))->getstring(1, 1),
              "index-node <&> \"one\"");
    // With bCreate an absent nested record is made empty.
    CNMessageBase **ppMade = copy.getObjectAccessor(true, true, 2, 5, 0, 0, 13, 171);
    ASSERT_TRUE(ppMade != nullptr);
    EXPECT_EQ((*ppMade)->getint64(1), 0);
    EXPECT_TRUE(copy.isSet(2));
}

TEST(MessageRecordsTest, ListsOfIntegersCopyByValueAndSurviveTheXmlForm) {
    CNMessageBase group(14, 153);
    EXPECT_EQ(group.getlistint32(2, 2), nullptr);
    EXPECT_EQ(group.addlistint32(2, 2, INT32_MIN), 0);
    EXPECT_EQ(group.addlistint32(2, 2, 5), 0);
    group.setint64(1, 1, -2);
    CNMessageBase record(14, 157);
    record.addlistobject(7, 7, group);
    // Stored as a copy.
    group.addlistint32(2, 2, 6);

    std::string strXml;
    ASSERT_EQ(record.serialize(strXml, false), 0);
    CNMessageBase read(14, 157);
    ASSERT_EQ(read.unserialize(strXml), 0) << strXml;
    std::vector<CNMessageBase> **ppGroups = read.getlistobject(7, 7, 0, 0, false);
    ASSERT_TRUE(ppGroups != nullptr && (*ppGroups)->size() == 1u);
    const CNMessageBase &readGroup = (**ppGroups)[0];
    EXPECT_EQ(readGroup.getint64(1), -2);
    const std::vector<int32_t> *pValues = readGroup.getlistint32(2, 2);
    ASSERT_TRUE(pValues != nullptr);
    EXPECT_EQ(*pValues, (std::vector<int32_t>{INT32_MIN, 5}));
    // Read at another index, or as another kind, there is no such list.
    EXPECT_EQ(readGroup.getlistint32(3, 2), nullptr);
    EXPECT_EQ(readGroup.getlistint32(1, 1), nullptr);

    // A field set as another kind gives the list up, and a list replaces another kind.
    group.setstring(2, 2, "text");
    EXPECT_EQ(group.getlistint32(2, 2), nullptr);
    group.addlistint32(2, 2, 9);
    EXPECT_EQ(*group.getlistint32(2, 2), std::vector<int32_t>{9});
    EXPECT_EQ(group.getstring(2, 2), "");

    // An empty list is a list too.
    CNMessageBase withEmptyList(14, 153);
    ASSERT_EQ(withEmptyList.unserialize("<message family=\"14\" type=\"153\"><int32list "
                                        "index=\"2\" tag=\"2\"/></message>"),
              0);
    ASSERT_TRUE(withEmptyList.getlistint32(2, 2) != nullptr);
    EXPECT_TRUE(withEmptyList.getlistint32(2, 2)->empty());
}

TEST(MessageRecordsTest, UnserializeRefusesWhatIsNotARecordOfItsType) {
    std::string strValid;
    MakeNestedRecord().serialize(strValid, false);
    std::string strDeep = "<message family=\"13\" type=\"995\">";
    for (int i = 0; i <= CNMessageBase::kMaxDepth; ++i) {
        strDeep += "<message index=\"1\" tag=\"1\" family=\"1\" type=\"1\">";
    }
    for (int i = 0; i <= CNMessageBase::kMaxDepth; ++i) {
        strDeep += "</message>";
    }
    strDeep += "</message>";
    const struct {
        const char *szCase;
        std::string strXml;
        int nResult;
    } cases[] = {
        {"empty", "", CNMessageBase::eMessageMalformed},
        {"not XML", "url=http://x", CNMessageBase::eMessageMalformed},
        {"cut short", strValid.substr(0, strValid.size() / 2), CNMessageBase::eMessageMalformed},
        {"another record", "<message family=\"13\" type=\"996\"/>",
         CNMessageBase::eMessageWrongRecord},
        {"unknown element",
         "<message family=\"13\" type=\"995\"><double index=\"1\" tag=\"1\">1</double>"
         "</message>",
         CNMessageBase::eMessageMalformed},
        {"integer out of range",
         "<message family=\"13\" type=\"995\"><int64 index=\"1\" tag=\"1\">"
         "9223372036854775808</int64></message>",
         CNMessageBase::eMessageMalformed},
        {"integer with text",
         "<message family=\"13\" type=\"995\"><int64 index=\"1\" tag=\"1\">5 MB</int64>"
         "</message>",
         CNMessageBase::eMessageMalformed},
        {"32-bit integer out of range",
         "<message family=\"13\" type=\"995\"><int32list index=\"1\" tag=\"1\">"
         "<int32>2147483648</int32></int32list></message>",
         CNMessageBase::eMessageMalformed},
        {"list of integers holding a record",
         "<message family=\"13\" type=\"995\"><int32list index=\"1\" tag=\"1\">"
         "<message family=\"1\" type=\"1\"/></int32list></message>",
         CNMessageBase::eMessageMalformed},
        {"field without a tag",
         "<message family=\"13\" type=\"995\"><string index=\"1\">x</string></message>",
         CNMessageBase::eMessageMalformed},
        {"nested too deep", strDeep, CNMessageBase::eMessageTooLarge},
        {"too long", std::string(CNMessageBase::kMaxXmlBytes + 1, ' '),
         CNMessageBase::eMessageTooLarge},
    };
    for (const auto &c : cases) {
        CNMessageBase record(13, 995);
        record.setstring(1, 1, "kept?");
        EXPECT_EQ(record.unserialize(c.strXml), c.nResult) << c.szCase;
        EXPECT_FALSE(record.isSet(1)) << c.szCase;
    }
}

TEST(MessageRecordsTest, NameValuePairsCopyWhenMoved) {
    App::NameValueMap pair;
    EXPECT_EQ(pair.GetFamily(), 30);
    EXPECT_EQ(pair.GetType(), 490);
    pair.setstring(App::NameValueMap::kNameIndex, App::NameValueMap::kNameTag, "ParentGUID");
    pair.setstring(App::NameValueMap::kValueIndex, App::NameValueMap::kValueTag, "5");

    App::NameValueMap moved(std::move(pair));
    EXPECT_EQ(moved.getstring(1, 1), "ParentGUID");
    EXPECT_EQ(moved.getstring(2, 5), "5");
    // A move leaves the source as it was.
    EXPECT_EQ(pair.getstring(1, 1), "ParentGUID");
    EXPECT_EQ(pair.getstring(2, 5), "5");
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
    EXPECT_EQ("<message family=\"48\" type=\"216\"><int64 index=\"1\" tag=\"1\">2</int64>"
              "<message index=\"2\" tag=\"2\" family=\"48\" type=\"168\"><string index=\"12\" "
              "tag=\"12\">/a &amp; &lt;b&gt;</string></message></message>",
              strXml);
    std::string strIndented;
    message.serialize(strIndented, true);
    EXPECT_NE(std::string::npos, strIndented.find('\n'));
    // Either layout is the one form that unserialize reads.
    for (const std::string &strText : {strXml, strIndented}) {
        CNMessageBase read(48, 216);
        ASSERT_EQ(0, read.unserialize(strText)) << strText;
        EXPECT_EQ(2, read.getint64(1));
        ASSERT_NE(nullptr, read.getObject(2, 2));
        EXPECT_EQ("/a & <b>", read.getObject(2, 2)->getstring(12, 12));
    }
}

} // namespace
