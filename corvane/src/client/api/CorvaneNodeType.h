// Names for the node type numbers CorvaneNodeHandle::getNodeType reports
// and createNode takes. A server may know more types than these: its
// getNodeTypeStr text names any type, and corvaneNodeTypeName calls every
// other number "NODE" too.
#pragma once

namespace CorvaneNodeType {

constexpr int kNode = 0;    // a plain node: neither of the two below
constexpr int kFolder = 1;  // holds other nodes ("FOLDER")
constexpr int kClip = 2;    // holds frames of one clip format ("CLIP")

}  // namespace CorvaneNodeType

// "FOLDER", "CLIP", or "NODE" for any other number; never null.
inline const char* corvaneNodeTypeName(int type) {
    switch (type) {
        case CorvaneNodeType::kFolder:
            return "FOLDER";
        case CorvaneNodeType::kClip:
            return "CLIP";
        default:
            return "NODE";
    }
}
