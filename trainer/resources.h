#pragma once
// The trainer's resources (icon, network templates) live in a static library;
// they are registered by this call before the first use.
void nomu_pelto_varnex_init_resources();
