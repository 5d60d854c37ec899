// Internal to corvane_client.
// The method encoders never throw: each operation runs through guarded(),
// which turns anything thrown on the way into the last-error text.
#pragma once

#include <exception>
#include <string>

template <typename Body>
bool guarded(std::string& lastError, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        lastError = e.what();
        return false;
    }
}
