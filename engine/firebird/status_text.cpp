#include "engine/firebird/status_text.h"

#include <ibase.h>

#include <cstring>
#include <vector>

namespace tallo::engine::fb {
namespace {

// Calls visit(code, strings) for each error code of the vector with the
// string arguments that follow it.
template <class F>
void ForEachCode(const std::intptr_t* v, F&& visit) {
    if (v == nullptr)
        return;
    std::size_t i = 0;
    while (v[i] != isc_arg_end) {
        std::intptr_t type = v[i];
        if (type == isc_arg_cstring) {
            i += 3;
            continue;
        }
        if (type == isc_arg_gds) {
            if (!visit(v[i + 1], v + i + 2))
                return;
        }
        i += 2;
    }
}

// The first string argument of the code whose arguments start at args.
bool FirstString(const std::intptr_t* args, std::string& text) {
    for (std::size_t i = 0; args[i] != isc_arg_end && args[i] != isc_arg_gds;) {
        if (args[i] == isc_arg_string) {
            text = reinterpret_cast<const char*>(args[i + 1]);
            return true;
        }
        if (args[i] == isc_arg_cstring) {
            text.assign(reinterpret_cast<const char*>(args[i + 2]), static_cast<std::size_t>(args[i + 1]));
            return true;
        }
        i += 2;
    }
    return false;
}

}  // namespace

bool UserExceptionText(const std::intptr_t* vector, std::string& text) {
    // isc_except <number>, then isc_random <name>, then isc_random <message>.
    int seen = -1;
    bool found = false;
    ForEachCode(vector, [&](std::intptr_t code, const std::intptr_t* args) {
        if (seen < 0) {
            if (code == isc_except)
                seen = 0;
            return true;
        }
        if (code != isc_random)
            return false;
        std::string s;
        if (!FirstString(args, s))
            return false;
        if (++seen == 2) {
            text = std::move(s);
            found = true;
            return false;
        }
        return true;
    });
    return found;
}

bool ReportsLostConnection(const std::intptr_t* vector) {
    bool lost = false;
    ForEachCode(vector, [&](std::intptr_t code, const std::intptr_t*) {
        switch (code) {
            case isc_network_error:
            case isc_net_read_err:
            case isc_net_write_err:
            case isc_lost_db_connection:
            case isc_conn_lost:
            case isc_shutdown:
            case isc_att_shutdown:
            case isc_net_server_shutdown:
                lost = true;
                return false;
            default:
                return true;
        }
    });
    return lost;
}

SessionError ToSessionError(Firebird::IUtil* util, Firebird::IStatus* status, bool attached) {
    const std::intptr_t* vector = status->getErrors();
    char state[8] = {};
    fb_sqlstate(state, const_cast<ISC_STATUS*>(vector));

    std::string text;
    bool user = UserExceptionText(vector, text);
    if (!user) {
        std::vector<char> buffer(4096);
        for (;;) {
            unsigned n = util->formatStatus(buffer.data(), static_cast<unsigned>(buffer.size()), status);
            if (n < buffer.size() - 1 || buffer.size() >= (1u << 20))
                break;
            buffer.resize(buffer.size() * 4);
        }
        std::string raw(buffer.data(), strnlen(buffer.data(), buffer.size()));
        while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
            raw.pop_back();
        text.reserve(raw.size() + 16);
        for (char c : raw) {
            if (c == '\n')
                text.push_back('\r');
            text.push_back(c);
        }
    }
    bool lost = attached && ReportsLostConnection(vector);
    return SessionError(std::move(text), state, user, lost);
}

}  // namespace tallo::engine::fb
