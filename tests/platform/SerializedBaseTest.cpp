// Token serialisation: every type comes back through the overload of its type, unknown ids are
// passed over, and damaged data is an error before anything is read past its end.
#include "platform/SerializedBase.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

namespace {

// Keeps every token it is handed, by type; refuses the ids above 100 as an unknown record would.
class Recorder : public CSerializedBase {
public:
    using CSerializedBase::AddToken;
    using CSerializedBase::LoadToken;

    CKyError LoadToken(unsigned int nId, const std::string &strValue) override {
        return Keep(nId, "text:" + strValue);
    }
    CKyError LoadToken(unsigned int nId, int nValue) override {
        return Keep(nId, "int:" + std::to_string(nValue));
    }
    CKyError LoadToken(unsigned int nId, unsigned int nValue) override {
        return Keep(nId, "uint:" + std::to_string(nValue));
    }
    CKyError LoadToken(unsigned int nId, long long llValue) override {
        return Keep(nId, "ll:" + std::to_string(llValue));
    }
    CKyError LoadToken(unsigned int nId, unsigned long long ullValue) override {
        return Keep(nId, "ull:" + std::to_string(ullValue));
    }
    CKyError LoadToken(unsigned int nId, bool bValue) override {
        return Keep(nId, bValue ? "bool:1" : "bool:0");
    }

    std::map<unsigned int, std::string> mapTokens;

private:
    CKyError Keep(unsigned int nId, const std::string &strValue) {
        if (nId > 100) {
            return FXErrorUtil::ErrorWin32(FXLOC, 1608);
        }
        mapTokens[nId] = strValue;
        return CKyError::Success();
    }
};

std::string Saved(void (*fnAdd)(CSerializedBuffer *)) {
    CSerializedBuffer buffer;
    fnAdd(&buffer);
    EXPECT_FALSE(Recorder().Save(&buffer).IsError());
    return std::string(buffer.GetBuffer(), buffer.GetBufferSize());
}

void AddEveryType(CSerializedBuffer *pBuffer) {
    Recorder::AddToken(pBuffer, 1, std::string("a\0b", 3));
    Recorder::AddToken(pBuffer, 2, -5);
    Recorder::AddToken(pBuffer, 3, 4000000000u);
    Recorder::AddToken(pBuffer, 4, -9000000000LL);
    Recorder::AddToken(pBuffer, 5, 18000000000000000000ULL);
    Recorder::AddToken(pBuffer, 6, true);
    Recorder::AddToken(pBuffer, 200, std::string("refused"));
    Recorder::AddToken(pBuffer, 7, false);
}

TEST(SerializedBaseTest, EveryTypeComesBackThroughItsOverloadAndRefusedIdsArePassedOver) {
    const std::string strData = Saved(AddEveryType);
    Recorder recorder;
    ASSERT_FALSE(recorder.Load(strData).IsError());
    const std::map<unsigned int, std::string> expected = {{1, std::string("text:a\0b", 8)},
                                                          {2, "int:-5"},
                                                          {3, "uint:4000000000"},
                                                          {4, "ll:-9000000000"},
                                                          {5, "ull:18000000000000000000"},
                                                          {6, "bool:1"},
                                                          {7, "bool:0"}};
    EXPECT_EQ(recorder.mapTokens, expected);

    // The base itself knows no id.
    EXPECT_TRUE(FXErrorUtil::IsWin32(CSerializedBase().LoadToken(1, 5), 1608));
}

TEST(SerializedBaseTest, DamagedDataIsAnErrorAndLoadsNothing) {
    const std::string strData = Saved(AddEveryType);
    std::string strLongText = Saved(
        [](CSerializedBuffer *pBuffer) { Recorder::AddToken(pBuffer, 1, std::string("abc")); });
    strLongText[5] = '\x7f'; // the text's length now runs far past the end
    std::string strWideInt =
        Saved([](CSerializedBuffer *pBuffer) { Recorder::AddToken(pBuffer, 2, 1); });
    strWideInt[5] = 3; // an int three bytes wide
    std::string strBadBool =
        Saved([](CSerializedBuffer *pBuffer) { Recorder::AddToken(pBuffer, 6, true); });
    strBadBool[9] = 2;
    std::string strBadType = strData;
    strBadType[0] = 99;
    const struct {
        const char *szCase;
        std::string strData;
    } cases[] = {
        {"empty", ""},
        {"cut inside a token", strData.substr(0, strData.size() / 2)},
        {"no end token", strData.substr(0, strData.size() - 9)},
        {"bytes after the end token", strData + "x"},
        {"length past the end", strLongText},
        {"an int of the wrong width", strWideInt},
        {"a bool of 2", strBadBool},
        {"unknown type", strBadType},
    };
    for (const auto &c : cases) {
        Recorder recorder;
        CKyError error = recorder.Load(c.strData.data(), c.strData.size());
        EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << c.szCase << ": " << error.AsString();
        EXPECT_NE(error.AsString().find("Serialised data damaged at offset"), std::string::npos)
            << c.szCase;
        // Nothing of damaged data reaches the record, not even the tokens before the damage.
        EXPECT_TRUE(recorder.mapTokens.empty()) << c.szCase;
    }
}

} // namespace
