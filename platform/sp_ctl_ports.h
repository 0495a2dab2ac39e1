// Byte-wide I/O ports that drive the service processor's programming-mode and
// reset lines. Every change is a read-modify-write so that the other lines on
// the same port keep their state.
#pragma once

namespace spctl {

constexpr unsigned short PORT_83B = 0x83B;
constexpr unsigned short PORT_83E = 0x83E;
constexpr unsigned short PORT_84B = 0x84B;
constexpr unsigned short PORT_84E = 0x84E;

constexpr unsigned char KEEP_BIT7 = 0x80;  // 0x83B / 0x83E: clear every line but bit 7
constexpr unsigned char BIT0 = 0x01;       // 0x83B / 0x83E / 0x84E
constexpr unsigned char BIT3 = 0x08;       // 0x84E
constexpr unsigned char BIT4 = 0x10;       // 0x84B: pulsed low around a mode change

constexpr unsigned int SETTLE_MS = 100;  // the lines settle between steps

}  // namespace spctl
