// The dimensions that need no outside data: status codes, pages not found, hours.
#ifndef HITSIEVE_ENGINE_DIMENSIONS_BUILTIN_DIMENSIONS_H_
#define HITSIEVE_ENGINE_DIMENSIONS_BUILTIN_DIMENSIONS_H_

#include <memory>

#include "engine/dimensions/dimension.h"

namespace hitsieve {

// Requests per day and status code, of every request that is no robot's, whatever the page
// filter says. Key: the code in decimal.
const DimensionShape& StatusShape();
std::unique_ptr<Dimension> MakeStatusDimension(const DimensionOptions& options);

// Requests with status 404 or 410 per URL and referer, over the whole period (no robot's,
// whatever the page filter says). Key: the URL; sub: the referer as written ("-" for none).
const DimensionShape& NotFoundShape();
std::unique_ptr<Dimension> MakeNotFoundDimension(const DimensionOptions& options);

// Views and distinct visitors per day and hour of the counted requests (those the daily views
// count). Key: the hour, "00" to "23". A record whose time gives no hour is left out.
const DimensionShape& HoursShape();
std::unique_ptr<Dimension> MakeHoursDimension(const DimensionOptions& options);

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_DIMENSIONS_BUILTIN_DIMENSIONS_H_
