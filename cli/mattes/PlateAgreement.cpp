#include "cli/mattes/PlateAgreement.h"

namespace framemeld::mattes {

namespace {

template <class HostPixel>
void agreementRow(const AgreementRowInput &input, float *confidence,
                  std::uint8_t *const *differences)
{
    const AgreementTest &test = *input.test;
    const HostPixel *plate = reinterpret_cast<const HostPixel *>(input.plateRow);
    const int n = input.frameCount;
    for (int x = 0; x < input.width; ++x) {
        int agreeing = 0;
        for (int k = 0; k < n; ++k) {
            const HostPixel &sample = reinterpret_cast<const HostPixel *>(input.frameRows[k])[x];
            const bool agrees = test.agrees(sample, plate[x]);
            agreeing += agrees ? 1 : 0;
            if (differences != nullptr && differences[k] != nullptr) {
                differences[k][x] = agrees ? kAgrees : kDiffers;
            }
        }
        if (confidence != nullptr) {
            confidence[x] = n > 0 ? static_cast<float>(agreeing) / static_cast<float>(n) : 0.0f;
        }
    }
}

} // namespace

void plateAgreementRow(const AgreementRowInput &input, float *confidence,
                       std::uint8_t *const *differences)
{
    switch (input.test->depth()) {
    case runner::PixelDepth::Bits8: agreementRow<PF_Pixel8>(input, confidence, differences); break;
    case runner::PixelDepth::Bits16:
        agreementRow<PF_Pixel16>(input, confidence, differences);
        break;
    case runner::PixelDepth::Float32:
        agreementRow<PF_PixelFloat>(input, confidence, differences);
        break;
    }
}

} // namespace framemeld::mattes
