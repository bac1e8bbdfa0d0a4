#pragma once

#include "services/Http.h"

// libcurl and what it pulls in (two TLS stacks, Kerberos, LDAP, SSH, RTMP)
// hold several megabytes once mapped, and most runs never upload anything.
// So the program never links it: the transfer lives in the plugin
// vorantu-http beside the program, opened by HttpRequest on the first
// request. This is the plugin's whole surface.
extern "C" {
using THttpRequestEntry = void (*)(const THttpRequest& request, THttpReply& reply);
// Runs `request` as HttpRequest describes and fills `reply`. Never throws.
void VorantuHttpRequest(const THttpRequest& request, THttpReply& reply);
}
