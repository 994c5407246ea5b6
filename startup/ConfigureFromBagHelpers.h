// Reading one option-bag value into the option record, shared by the two option translations.
//
// A value that cannot be read leaves the record as it was: the record's starting value is the
// default of every optional key. A value of another type than the key's is logged, since the
// job that wrote it will not get what it asked for. The values held through the bag's untyped store
// (maps, lists, message records) are cast here, and a value of another type is an error that names
// the key rather than an exception out of the transmitter's Start.
#pragma once

#include <string>
#include <type_traits>

#include <boost/any.hpp>

#include "foundation/ErrorCodes.h"
#include "foundation/KyError.h"
#include "platform/Bag.h"
#include "platform/LogWriter.h"
#include "transmitter/TransmitterConfigurationBagId.h"
#include "transmitter/TransmitterOptions.h"

// How a kept value is named in the log: a truth value as true or false, a number in decimal, a
// text as it is.
inline std::string BagValueText(bool bValue) {
    return bValue ? "true" : "false";
}
inline std::string BagValueText(const std::string &strValue) {
    return strValue;
}
template <typename T>
typename std::enable_if<std::is_arithmetic<T>::value, std::string>::type BagValueText(T value) {
    return std::to_string(value);
}

// After a typed read of szKey failed: a key that is there holds a value of another type than
// strAsked. The job meant to set it, yet the record keeps strKept, its default: the job does not
// get what it asked for, which is an error to report whatever the log level; an absent key is
// the ordinary way to take the default and says nothing.
inline void LogWrongBagType(const CBag &bag, const char *szKey, const std::string &strAsked,
                            const std::string &strKept) {
    boost::any stored;
    if (bag.ReadAny(szKey, stored).IsError()) {
        return;
    }
    IDX_LOG_ERROR("Option [%s] holds a value of type [%s], not [%s]; its default [%s] is kept",
                  szKey, CBag::TypeName(stored).c_str(), strAsked.c_str(), strKept.c_str());
}

// Reads szKey as T into value, which holds the default until then; on a failed read logs a value
// of another type (LogWrongBagType) with that default.
template <typename T> bool ReadBagTyped(const CBag &bag, const char *szKey, T &value) {
    if (bag.Read(szKey, value).IsError()) {
        LogWrongBagType(bag, szKey, CBag::TypeName(boost::any(T{})), BagValueText(value));
        return false;
    }
    return true;
}

// Calls fnSetter with the value when the bag holds the key under a type readable as T; otherwise
// the record keeps kept, the value it holds (named in the log when the type was wrong).
template <typename T, typename TSetter>
bool ReadBagValue(const CBag &bag, const char *szKey, const T &kept, TSetter fnSetter) {
    T value = kept;
    if (!ReadBagTyped(bag, szKey, value)) {
        return false;
    }
    fnSetter(value);
    return true;
}

// The same for a value held untyped: an absent key is passed over (success, no call); a value of
// another type is error 87 naming the key and the type found.
template <typename T, typename TSetter>
CKyError ReadBagAny(const CBag &bag, const char *szKey, TSetter fnSetter) {
    boost::any value;
    if (bag.ReadAny(szKey, value).IsError()) {
        return CKyError::Success();
    }
    const T *pValue = boost::any_cast<T>(&value);
    if (pValue == nullptr) {
        return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                       "Option [%s] holds a value of the wrong type [%s]", szKey,
                                       CBag::TypeName(value).c_str());
    }
    fnSetter(*pValue);
    return CKyError::Success();
}

// A collect-file count from a bag (szSource says which: "Option", "Scanner value"): outside 0 to
// CTransmitterOptions::kMaxCollectFileIdLimit it is error 87 naming the key and the value.
inline CKyError CheckMaxCollectFileId(const char *szSource, long long llValue) {
    if (llValue >= 0 && llValue <= CTransmitterOptions::kMaxCollectFileIdLimit) {
        return CKyError::Success();
    }
    return FXErrorUtil::ErrorWin32(FXLOC, EIdxError::eInvalidParameter,
                                   "%s [%s] of %lld is outside 0 to %lld", szSource,
                                   SXTransmitterConfigurationBagId::idMaxCollectFileID, llValue,
                                   CTransmitterOptions::kMaxCollectFileIdLimit);
}
