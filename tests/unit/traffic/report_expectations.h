// What the traffic tests expect of reports and trace files, computed independently of the code
// under test.
#pragma once

#include <openssl/sha.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>

#include "frames.h"

namespace traffic_test {

// Upper-case hexadecimal SHA-1 of the lower-cased name and the tag, from an independent library.
inline std::string ExpectedDigest(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  name += "quilm";
  unsigned char digest[SHA_DIGEST_LENGTH];
  ::SHA1(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest);
  std::string hex;
  char cell[3];
  for (unsigned char b : digest) {
    std::snprintf(cell, sizeof(cell), "%02X", b);
    hex += cell;
  }
  return hex;
}

// The trace dump shows the TCP ports as the classifier reads them, in host order.
inline Bytes WithHostOrderPorts(Bytes f) {
  std::swap(f[34], f[35]);
  std::swap(f[36], f[37]);
  return f;
}

inline const std::string kEmptySummary =
    "Number of,DNS Query: 0\r\nNumber of,SMTP EHLO: 0\r\nNumber of,IRC Request: 0,\r\n"
    "Number of,HTTP Redirect: 0, Total Length=0\r\nNumber of,DDoS: 0\r\n";

}  // namespace traffic_test
