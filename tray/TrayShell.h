#pragma once

namespace camwarden {}
