// The configuration image as a readable JSON document and back. Field names
// are the station's record names, grouped by record; values the image keeps
// in hundredths are written as decimals (11.5 for a stored 1150); the
// station name is a string (each byte one character, Latin-1); undecoded
// bytes that differ from a blank image are listed as runs of hexadecimal
// bytes under "sin_decodificar", so that image -> JSON -> image gives the
// same bytes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "codec/config_image.h"

namespace codec {

nlohmann::ordered_json config_to_json(const StationConfig& config);
// The document as text, two-space indents, arrays of numbers on one line.
std::string config_json_text(const StationConfig& config);
// Fields missing from the document keep the value they have in *config, or,
// with every_field, are an error naming the first of them. Returns false with
// a message on a value of the wrong kind or too large for its field.
bool config_from_json(const nlohmann::json& document, StationConfig* config, std::string* error,
                      bool every_field = false);

// Whole files: an image of 8192 bytes, a JSON document.
bool image_file_to_json_text(const std::string& image_path, std::string* json_text,
                             std::string* error);
bool json_text_to_image(const std::string& json_text, std::vector<uint8_t>* image,
                        std::string* error);
// The image the configuration tools store: a document that gives every field
// (base null) or the fields to change in the image *base; either way every
// field must then be one the station can use (config_range_error).
bool json_text_to_usable_image(const std::string& json_text, const std::vector<uint8_t>* base,
                               std::vector<uint8_t>* image, std::string* error);

}  // namespace codec
