// Reading one option-bag value into the option record, shared by the two option translations.
//
// A value that cannot be read leaves the record as it was: the record's starting value is the
// default of every optional key. The values held through the bag's untyped store (maps, lists,
// message records) are cast here, and a value of another type is an error that names the key
// rather than an exception out of the transmitter's Start.
#pragma once

#include <string>

#include <boost/any.hpp>

#include "foundation/KyError.h"
#include "platform/Bag.h"

// Calls fnSetter with the value when the bag holds the key under a type readable as T.
template <typename T, typename TSetter>
bool ReadBagValue(const CBag &bag, const char *szKey, TSetter fnSetter) {
    T value{};
    if (bag.Read(szKey, value).IsError()) {
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
        return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                       "Option [%s] holds a value of the wrong type [%s]", szKey,
                                       CBag::TypeName(value).c_str());
    }
    fnSetter(*pValue);
    return CKyError::Success();
}
