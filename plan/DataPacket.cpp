#include "DataPacket.h"

namespace tarvolen {

bool sameValue(const Value& a, const Value& b) {
    if (a.index() != b.index()) return false;
    if (const auto* blobA = std::get_if<BlobData>(&a)) {
        const auto& blobB = std::get<BlobData>(b);
        return blobA->get() == blobB.get() || **blobA == *blobB;
    }
    return a == b;
}

const Attribute* FieldDef::findAttribute(std::string_view attrName) const {
    for (const auto& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

int FieldDef::width() const {
    const Attribute* a = findAttribute("WIDTH");
    if (a == nullptr) return 0;
    if (const auto* v = std::get_if<int64_t>(&a->value)) return static_cast<int>(*v);
    return 0;
}

std::string FieldDef::subtype() const {
    const Attribute* a = findAttribute("SUBTYPE");
    if (a == nullptr) return {};
    if (const auto* v = std::get_if<std::string>(&a->value)) return *v;
    return {};
}

const Attribute* DataPacket::findAttribute(std::string_view attrName) const {
    for (const auto& a : attributes) {
        if (a.name == attrName) return &a;
    }
    return nullptr;
}

int DataPacket::fieldIndex(std::string_view fieldName) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == fieldName) return static_cast<int>(i);
    }
    return -1;
}

std::vector<uint32_t> replacedVersions(const DataPacket& packet) {
    std::vector<uint32_t> replaced(packet.rows.size() + 1, 0);
    for (const auto& e : packet.changeLog) {
        if (e.version >= 1 && e.version <= packet.rows.size() && e.replaced != 0) {
            replaced[e.version] = e.replaced;
        }
    }
    return replaced;
}

}  // namespace tarvolen
