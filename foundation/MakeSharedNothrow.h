// The framework's factory for objects held in shared pointers whose creation may fail without
// ending the job: it gives an empty pointer when the interprocess allocator runs out, and the
// caller turns that into error 14.
#pragma once

#include <utility>

#include <boost/interprocess/exceptions.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

namespace boost {

// Makes the object exactly as boost::make_shared does (one allocation for object and count).
// Only boost::interprocess::bad_alloc becomes an empty pointer; std::bad_alloc and every
// exception of T's constructor reach the caller unchanged.
template <class T, class... Args> boost::shared_ptr<T> make_shared_nothrow(Args &&...args) {
    try {
        return boost::make_shared<T>(std::forward<Args>(args)...);
    } catch (const boost::interprocess::bad_alloc &) {
        return boost::shared_ptr<T>();
    }
}

} // namespace boost
