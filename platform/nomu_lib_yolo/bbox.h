#pragma once
// darknet's detection record, as the server is built against it.

struct bbox_t {
    unsigned int x = 0, y = 0, w = 0, h = 0; // top-left corner and size, in pixels
    float prob = 0.f;                        // confidence
    unsigned int obj_id = 0;                 // class id
    unsigned int track_id = 0;               // tracking id, 0 when not tracked
    unsigned int frames_counter = 0;         // frames the track has been seen
};
