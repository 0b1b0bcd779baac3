#pragma once
// A circular doubly linked ring of nodes, the storage of a frame buffer. The
// ring always holds at least one node; it grows by inserting empty nodes and
// never shrinks. Each node owns the frame stored in it.
//
// Threading: not thread-safe; the owning frame buffer serialises use.
#include <memory>

#include "viewer/playback/U_FrameClass.h"

namespace ospry {

struct TLink {
  TLink* Prev = nullptr;
  TLink* Next = nullptr;
  std::unique_ptr<TFrameClass> Data;  // null until the node is first filled
};

class TLinkedList {
public:
  // A ring of count nodes; a count below 1 counts as 1.
  explicit TLinkedList(int count);
  ~TLinkedList();  // frees every node and its frame
  TLinkedList(const TLinkedList&) = delete;
  TLinkedList& operator=(const TLinkedList&) = delete;

  // Inserts count new empty nodes between node and node->Next; returns count
  // (0 for count <= 0).
  int InsertAfter(TLink* node, int count);
  int Count() const { return count_; }
  TLink* Head() const { return head_; }
  // Next steps from from to to; 0 when they are the same node.
  static int Distance(const TLink* from, const TLink* to);

private:
  TLink* head_;
  int count_ = 1;
};

}  // namespace ospry
