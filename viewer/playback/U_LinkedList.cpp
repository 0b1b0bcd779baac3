#include "viewer/playback/U_LinkedList.h"

namespace ospry {

TLinkedList::TLinkedList(int count) : head_(new TLink) {
  head_->Prev = head_;
  head_->Next = head_;
  if (count > 1) InsertAfter(head_, count - 1);
}

TLinkedList::~TLinkedList() {
  TLink* node = head_->Next;
  while (node != head_) {
    TLink* next = node->Next;
    delete node;
    node = next;
  }
  delete head_;
}

int TLinkedList::InsertAfter(TLink* node, int count) {
  for (int i = 0; i < count; ++i) {
    auto* link = new TLink;
    link->Prev = node;
    link->Next = node->Next;
    node->Next->Prev = link;
    node->Next = link;
    ++count_;
  }
  return count > 0 ? count : 0;
}

int TLinkedList::Distance(const TLink* from, const TLink* to) {
  int steps = 0;
  for (const TLink* node = from; node != to; node = node->Next) ++steps;
  return steps;
}

}  // namespace ospry
