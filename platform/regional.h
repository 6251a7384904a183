#pragma once
// placeholder, replaced by the regional settings module
