// The intrusive, circular, doubly linked list with a sentinel head (the layout
// of LIST_ENTRY: forward link first). The caller sets up an empty head as one
// whose links both point to itself. No function writes or reads through a null
// pointer or a null link: a head that was never set up, an entry that is not on
// a list, or a null argument leaves everything as it was (answering 0 or null
// where there is an answer).
#include "utils/primitives.h"

extern "C" {

UTILS_API void _InsertTailList(LIST_ENTRY* head, LIST_ENTRY* entry) {
  if (head == nullptr || entry == nullptr || head->Blink == nullptr) return;
  LIST_ENTRY* last = head->Blink;
  entry->Flink = head;
  entry->Blink = last;
  last->Flink = entry;
  head->Blink = entry;
}

UTILS_API void _InsertHeadList(LIST_ENTRY* head, LIST_ENTRY* entry) {
  if (head == nullptr || entry == nullptr || head->Flink == nullptr) return;
  LIST_ENTRY* first = head->Flink;
  entry->Blink = head;
  entry->Flink = first;
  first->Blink = entry;
  head->Flink = entry;
}

// On an empty list the head itself is returned and the list stays empty; a
// head or first entry with a null link gives null and changes nothing.
UTILS_API LIST_ENTRY* _RemoveHeadList(LIST_ENTRY* head) {
  if (head == nullptr || head->Flink == nullptr || head->Flink->Flink == nullptr) return nullptr;
  LIST_ENTRY* first = head->Flink;
  LIST_ENTRY* next = first->Flink;
  next->Blink = head;
  head->Flink = next;
  return first;
}

// An entry removed before (both links null) or otherwise not linked on both
// sides is left alone: 0.
UTILS_API BOOL RemoveEntryList(LIST_ENTRY* entry) {
  if (entry == nullptr || entry->Flink == nullptr || entry->Blink == nullptr) return 0;
  LIST_ENTRY* previous = entry->Blink;
  LIST_ENTRY* next = entry->Flink;
  previous->Flink = next;
  next->Blink = previous;
  entry->Flink = nullptr;
  entry->Blink = nullptr;
  return 1;
}

// Both walks follow forward links only and stop at a null link, so a broken
// chain ends the walk instead of being read through.
UTILS_API BOOL IsNodeOnList(LIST_ENTRY* head, LIST_ENTRY* node) {
  if (head == nullptr) return 0;
  for (LIST_ENTRY* p = head->Flink; p != nullptr && p != head; p = p->Flink) {
    if (p == node) return 1;
  }
  return 0;
}

UTILS_API BOOL IsListCircular(LIST_ENTRY* head) {
  if (head == nullptr || head->Flink == nullptr || head->Blink == nullptr) return 0;
  if (head->Blink->Flink != head || head->Flink->Blink != head) return 0;
  for (LIST_ENTRY* p = head->Flink; p != head; p = p->Flink) {
    if (p == nullptr || p->Flink == nullptr || p->Blink == nullptr) return 0;
    if (p->Blink->Flink != p || p->Flink->Blink != p) return 0;
  }
  return 1;
}

}  // extern "C"
