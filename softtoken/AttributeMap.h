// An object's attributes by type, kept sorted in one vector. An object has
// a dozen or so attributes and a token may hold tens of thousands of
// objects: a node-based map cost about 80 bytes more for every attribute
// (50,000 data objects took some 60 MiB of the process's memory, a vector
// about half). Iteration is in the order of the types, as the token file
// is written.
#pragma once

#include "Common.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace softtoken {

class AttributeMap {
public:
    using value_type = std::pair<CK_ATTRIBUTE_TYPE, Bytes>;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    size_t size() const { return entries_.size(); }

    iterator find(CK_ATTRIBUTE_TYPE type) {
        auto it = LowerBound(type);
        return it != entries_.end() && it->first == type ? it : entries_.end();
    }
    const_iterator find(CK_ATTRIBUTE_TYPE type) const {
        return const_cast<AttributeMap*>(this)->find(type);
    }
    size_t count(CK_ATTRIBUTE_TYPE type) const { return find(type) != end() ? 1 : 0; }

    // The value of `type`, added empty when the object has none.
    Bytes& operator[](CK_ATTRIBUTE_TYPE type) {
        auto it = LowerBound(type);
        if (it == entries_.end() || it->first != type)
            it = entries_.insert(it, value_type(type, Bytes()));
        return it->second;
    }

    // Adds `type` with `value` unless the object has it already; as
    // std::map::emplace, the flag says whether it was added.
    std::pair<iterator, bool> emplace(CK_ATTRIBUTE_TYPE type, Bytes value) {
        auto it = LowerBound(type);
        if (it != entries_.end() && it->first == type)
            return {it, false};
        return {entries_.insert(it, value_type(type, std::move(value))), true};
    }

    // Gives back the room kept for attributes still to come.
    void shrink_to_fit() { entries_.shrink_to_fit(); }

private:
    iterator LowerBound(CK_ATTRIBUTE_TYPE type) {
        return std::lower_bound(entries_.begin(), entries_.end(), type,
                                [](const value_type& entry, CK_ATTRIBUTE_TYPE t) { return entry.first < t; });
    }

    std::vector<value_type> entries_;
};

}  // namespace softtoken
