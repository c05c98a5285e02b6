// The settings of one render that the consensus engine reads for every output pixel.
#pragma once

// Filled at pre-render (divergence, rating range, frame count) and completed at render
// (bitDepth); read-only, and shared by every worker thread, while pixels are processed.
struct FramemeldParameter {
    // Component code of the data handed to the engine: 0 = 8-bit, 1 = 16-bit, 2 = float. 16-bit
    // frames reach the engine converted to float, so the engine only ever sees 0 or 2.
    int bitDepth = 0;
    // "Divergence" as the user set it: levels out of 255 for 8-bit data, percent of full scale for
    // float data; the engine derives the per-component tolerance from it.
    float divergence = 0.01f;
    // "Rating Range": how far below the best rating a sample may be rated and still enter the mean.
    float ratingRange = 1.0f;
    // Number of sampled frames, and the length of every pixel string passed with this record.
    int frameCount = 0;
};
