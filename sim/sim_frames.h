// Socket-free part of tesmar-sim: the preset register map and Modbus TCP reply frames,
// kept apart from the server loop so tests can link it.
#ifndef TESMAR_SIM_FRAMES_H
#define TESMAR_SIM_FRAMES_H

#include <modbus.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tesmar::sim {

enum class Fault { None, Txid, Unit, ByteCount, Truncated, Garbage, Exception, Late, Close };

// Length of the MBAP header in front of every Modbus TCP PDU.
constexpr std::size_t kMbapLength = 7;

std::optional<Fault> parseFault(std::string_view name);

// Full-range mapping (65536 of every kind) holding the presets listed in the usage text.
// Returns nullptr when out of memory; release with modbus_mapping_free.
modbus_mapping_t* newPresetMapping();

// Answers an FC3, FC4 or FC16 TCP request as a correct slave would, storing FC16 writes
// in map. Returns 0 with the frame in reply, or the exception code the request deserves.
int buildReply(const uint8_t* req, int reqLength, modbus_mapping_t* map,
               std::vector<uint8_t>& reply);

// Corrupts a reply from buildReply; modes that do not alter reply bytes leave it alone.
void applyFault(Fault fault, std::vector<uint8_t>& reply);

}  // namespace tesmar::sim

#endif
