// The rule list that decides which analysis a TCP packet gets: three permanent rules, plus one
// rule per IRC conversation so that the server's answers are searched for bot commands.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// Analysis kinds answered by CPacketDispatcher::Lookup.
enum : int32_t {
  HttpIncoming = 0,
  SmtpOutgoing = 2,
  IrcRequest = 3,
  BotCommand = 4,
};

inline constexpr int32_t kAnyDirection = -1;
inline constexpr uint16_t kAnyPort = 0xFFFF;
inline constexpr int64_t kNeverExpires = -1;

// One rule; also the lookup key, whose kind and expiry are not consulted.
struct DispatchEntry {
  int32_t iIO = 0;  // 1 sent by this computer, 0 received, -1 either
  uint16_t SrcPort = 0;
  uint16_t DestPort = 0;
  int32_t Kind = -1;
  int64_t Expiry = kNeverExpires;  // seconds since 1970
};

class CPacketDispatcher {
 public:
  // Appends the rule, or, when a rule with the same direction and ports exists, only moves
  // that rule's expiry.
  void Register(const DispatchEntry& entry);

  // The kind of the first matching rule, also stored into key.Kind; -1 when none matches.
  // Expiry is not looked at here.
  int32_t Lookup(DispatchEntry& key);

  // Drops the rules whose expiry has passed; the others keep their order.
  void RemoveExpired();

  // A copy of the rules in list order.
  std::vector<DispatchEntry> Entries() const;

 private:
  mutable std::mutex m_lock;
  std::vector<DispatchEntry> m_entries;
};

extern CPacketDispatcher g_PacketDispatcher;

// The three rules that hold for the whole run: received HTTP, sent SMTP, every other sent packet.
void RegisterPermanentRules(CPacketDispatcher& dispatcher);
