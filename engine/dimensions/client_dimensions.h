// The dimensions of who the clients are: their browsers and systems (from the user agent, by the
// agent rules) and their countries (from the address, by a country database). Each counts the
// counted requests (those the daily views count): views and distinct visitors per day.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_CLIENT_DIMENSIONS_H_
#define HITSIEVE_ENGINE_DIMENSIONS_CLIENT_DIMENSIONS_H_

#include <memory>
#include <string_view>

#include "engine/dimensions/dimension.h"

namespace hitsieve {

// Views and visitors per day, browser family and major version. Key: the family ("Other" when
// the rules know none); sub: the major version ("" for none).
const DimensionShape& BrowsersShape();
std::unique_ptr<Dimension> MakeBrowsersDimension(const DimensionOptions& options);

// Views and visitors per day, system family and device class. Key: the family ("Other" when the
// rules know none); sub: the device class (DeviceKey: "desktop", "phone", "tablet", "bot",
// "other").
const DimensionShape& SystemsShape();
std::unique_ptr<Dimension> MakeSystemsDimension(const DimensionOptions& options);

// Views and visitors per day and country of the client's address, counted only with a country
// database (DimensionOptions::countries), whose build is the dimension's version. Key: the ISO
// code, or kUnknownCountry ("") for an address the database does not know (or no address at all).
const DimensionShape& CountriesShape();
std::unique_ptr<Dimension> MakeCountriesDimension(const DimensionOptions& options);
inline constexpr std::string_view kUnknownCountry = "";

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_CLIENT_DIMENSIONS_H_
