#define OPENSSL_SUPPRESS_DEPRECATED
#include "reference_crypto.h"

#include <openssl/des.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace padsim::test {
namespace {

std::string Check(std::string_view body) {
    unsigned char x = 0;
    for (char c : body) x ^= static_cast<unsigned char>(c);
    char text[3];
    std::snprintf(text, sizeof text, "%02X", x);
    return text;
}

struct Schedules {
    DES_key_schedule k1, k2, k3;
};

Schedules MakeSchedules(std::string_view keyHex) {
    const std::string key = Unhex(keyHex);
    if (key.size() != 8 && key.size() != 16 && key.size() != 24)
        throw std::invalid_argument("reference key length");
    DES_cblock b1, b2, b3;
    std::memcpy(b1, key.data(), 8);
    std::memcpy(b2, key.size() > 8 ? key.data() + 8 : key.data(), 8);
    std::memcpy(b3, key.size() > 16 ? key.data() + 16 : key.data(), 8);
    Schedules s;
    DES_set_key_unchecked(&b1, &s.k1);
    DES_set_key_unchecked(&b2, &s.k2);
    DES_set_key_unchecked(&b3, &s.k3);
    return s;
}

std::string Ecb(std::string_view keyHex, std::string_view dataHex, int direction) {
    Schedules s = MakeSchedules(keyHex);
    const std::string data = Unhex(dataHex);
    std::string out(data.size(), '\0');
    for (std::size_t at = 0; at + 8 <= data.size(); at += 8) {
        DES_cblock in, res;
        std::memcpy(in, data.data() + at, 8);
        DES_ecb3_encrypt(&in, &res, &s.k1, &s.k2, &s.k3, direction);
        std::memcpy(out.data() + at, res, 8);
    }
    return Hex(out);
}

std::string Cbc(std::string_view keyHex, std::string_view dataHex, int direction) {
    Schedules s = MakeSchedules(keyHex);
    const std::string data = Unhex(dataHex);
    std::string out(data.size(), '\0');
    DES_cblock iv = {0};
    DES_ede3_cbc_encrypt(reinterpret_cast<const unsigned char*>(data.data()),
                         reinterpret_cast<unsigned char*>(out.data()),
                         static_cast<long>(data.size()), &s.k1, &s.k2, &s.k3, &iv, direction);
    return Hex(out);
}

}  // namespace

std::string RequestFrameWithLength(std::string_view field, char command, std::string_view payload) {
    std::string body(field);
    body += command;
    body += payload;
    body += '\x03';
    return "\x02" + body + Check(body);
}

std::string RequestFrame(char command, std::string_view payload) {
    char field[8];
    std::snprintf(field, sizeof field, "%03zu", payload.size() + 1);
    return RequestFrameWithLength(payload.size() + 1 > 999 ? "000" : field, command, payload);
}

ParsedReply ParseReply(std::string_view bytes) {
    ParsedReply r;
    std::size_t stx = bytes.find('\x02');
    if (stx == std::string_view::npos || bytes.size() < stx + 8) return r;
    bytes.remove_prefix(stx);
    r.lengthField = std::string(bytes.substr(1, 3));
    r.status = static_cast<unsigned char>(bytes[4]);
    const std::size_t etx = bytes.size() - 3;
    r.data = std::string(bytes.substr(5, etx - 5));
    const int announced = std::atoi(r.lengthField.c_str());
    const bool lengthOk = r.lengthField == "000"
                              ? r.data.size() + 1 > 999
                              : static_cast<std::size_t>(announced) == r.data.size() + 1;
    r.wellFormed = bytes[etx] == '\x03' && lengthOk &&
                   Check(bytes.substr(1, etx)) == std::string(bytes.substr(etx + 1, 2));
    return r;
}

std::string Hex(std::string_view bytes, std::string_view separator) {
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        if (!out.empty()) out += separator;
        std::snprintf(b, sizeof b, "%02X", c);
        out += b;
    }
    return out;
}

std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

std::string RefEncrypt(std::string_view k, std::string_view d) { return Ecb(k, d, DES_ENCRYPT); }
std::string RefDecrypt(std::string_view k, std::string_view d) { return Ecb(k, d, DES_DECRYPT); }
std::string RefCbcEncrypt(std::string_view k, std::string_view d) { return Cbc(k, d, DES_ENCRYPT); }
std::string RefCbcDecrypt(std::string_view k, std::string_view d) { return Cbc(k, d, DES_DECRYPT); }
std::string RefVerifyCode(std::string_view k) {
    return RefEncrypt(k, "0000000000000000").substr(0, 8);
}

std::string XorHex(std::string_view a, std::string_view b) {
    std::string x = Unhex(a), y = Unhex(b);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<char>(x[i] ^ y[i]);
    return Hex(x);
}

std::string RefCbcMac(std::string_view k, std::string_view d) {
    std::string padded(d);
    padded.resize((padded.size() + 15) / 16 * 16, '0');
    if (padded.empty()) padded.assign(16, '0');
    return RefCbcEncrypt(k, padded).substr(padded.size() - 16);
}

std::string RefRetailMac(std::string_view k, std::string_view d) {
    const std::string_view left = k.substr(0, 16);
    const std::string_view right = k.size() >= 32 ? k.substr(16, 16) : left;
    return RefEncrypt(left, RefDecrypt(right, RefCbcMac(left, d)));
}

std::string RefIbm3624Offset(std::string_view k, std::string_view validation,
                             std::string_view table, std::string_view pin) {
    const std::string natural = RefEncrypt(k, validation);
    std::string offset;
    for (std::size_t i = 0; i < pin.size(); ++i) {
        const int digit = table[std::stoi(natural.substr(i, 1), nullptr, 16)] - '0';
        offset += static_cast<char>('0' + (pin[i] - '0' - digit + 10) % 10);
    }
    return offset;
}

}  // namespace padsim::test
