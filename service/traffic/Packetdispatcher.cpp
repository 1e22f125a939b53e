#include "Packetdispatcher.h"

#include <algorithm>

#include "dl_DebugLog.h"
#include "platform/clock.h"

CPacketDispatcher g_PacketDispatcher;

void CPacketDispatcher::Register(const DispatchEntry& entry) {
  std::lock_guard guard(m_lock);
  for (DispatchEntry& existing : m_entries) {
    if (existing.iIO == entry.iIO && existing.SrcPort == entry.SrcPort &&
        existing.DestPort == entry.DestPort) {
      existing.Expiry = entry.Expiry;
      return;
    }
  }
  DebugTraceA(8, "Packetdispatcher", __LINE__, "[CPacketDispatcher::Register] iIO: %d, SrcPort: %d, DestPort: %d",
              entry.iIO, entry.SrcPort, entry.DestPort);
  m_entries.push_back(entry);
}

int32_t CPacketDispatcher::Lookup(DispatchEntry& key) {
  std::lock_guard guard(m_lock);
  for (const DispatchEntry& rule : m_entries) {
    if ((rule.DestPort == kAnyPort || rule.DestPort == key.DestPort) &&
        (rule.iIO == kAnyDirection || rule.iIO == key.iIO) &&
        (rule.SrcPort == kAnyPort || rule.SrcPort == key.SrcPort)) {
      key.Kind = rule.Kind;
      return rule.Kind;
    }
  }
  return -1;
}

void CPacketDispatcher::RemoveExpired() {
  std::lock_guard guard(m_lock);
  std::erase_if(m_entries, [](const DispatchEntry& rule) {
    return rule.Expiry != kNeverExpires && rule.Expiry < platform::TimeNow();
  });
}

std::vector<DispatchEntry> CPacketDispatcher::Entries() const {
  std::lock_guard guard(m_lock);
  return m_entries;
}

void RegisterPermanentRules(CPacketDispatcher& dispatcher) {
  dispatcher.Register({0, kAnyPort, 80, HttpIncoming, kNeverExpires});
  dispatcher.Register({1, kAnyPort, 25, SmtpOutgoing, kNeverExpires});
  dispatcher.Register({1, kAnyPort, kAnyPort, IrcRequest, kNeverExpires});
}
