// The Vector object's math against a plain scalar loop and Eigen (Debian libeigen3-dev, header
// only, built with the same flags): Euclidean distance, dot product and cosine similarity of
// 1,536-element vectors (an embedding's size), 10^5 pairs per iteration drawn from a pool of 64
// random vectors (768 KB, so the pairs come from the processor's caches rather than memory).
// Each side computes the same pairs; the sums of the results are kept so that no side is
// optimised away. The ratios printed at the end are the peer's time over ours (above 1: ours is
// faster).
#include "BenchRunTimes.h"

#include "toolbox/json/VJSONVector.h"

#include <Eigen/Core>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kLength = 1536;
constexpr size_t kPool = 64;
constexpr size_t kPairs = 100000;

struct Inputs
{
    std::vector<VVectorData*> fVectors;
    std::vector<std::pair<uint32_t, uint32_t>> fPairs;

    Inputs()
    {
        std::mt19937_64 random(7);
        std::normal_distribution<double> normal(0.0, 1.0);
        for (size_t v = 0; v < kPool; ++v)
        {
            std::vector<double> values(kLength);
            for (double& value : values)
            {
                value = normal(random);
            }
            fVectors.push_back(new VVectorData(std::move(values)));
        }
        std::uniform_int_distribution<uint32_t> pick(0, kPool - 1);
        for (size_t p = 0; p < kPairs; ++p)
        {
            fPairs.emplace_back(pick(random), pick(random));
        }
    }
    ~Inputs()
    {
        for (VVectorData* vector : fVectors)
        {
            vector->Release();
        }
    }
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;

    const double* Data(uint32_t inIndex) const { return fVectors[inIndex]->GetValues().data(); }
};

const Inputs& GetInputs()
{
    static const Inputs sInputs;
    return sInputs;
}

enum Operation : int64_t
{
    kDistance,
    kDot,
    kCosine
};

// ---- ours

void BM_Ours(benchmark::State& ioState)
{
    const Inputs& inputs = GetInputs();
    const auto operation = static_cast<Operation>(ioState.range(0));
    for (auto _ : ioState)
    {
        double total = 0;
        for (const auto& [a, b] : inputs.fPairs)
        {
            const VVectorData& x = *inputs.fVectors[a];
            const VVectorData& y = *inputs.fVectors[b];
            double result = 0;
            switch (operation)
            {
            case kDistance:
                VVectorData::DoEuclideanDistance(x, y, result);
                break;
            case kDot:
                VVectorData::DoDotProduct(x, y, result);
                break;
            case kCosine:
                VVectorData::DoCosineSimilarity(x, y, result);
                break;
            }
            total += result;
        }
        benchmark::DoNotOptimize(total);
    }
    ioState.SetItemsProcessed(static_cast<int64_t>(ioState.iterations() * kPairs));
}

// ---- a plain scalar loop: one accumulator, as a first implementation would write it

void BM_Scalar(benchmark::State& ioState)
{
    const Inputs& inputs = GetInputs();
    const auto operation = static_cast<Operation>(ioState.range(0));
    for (auto _ : ioState)
    {
        double total = 0;
        for (const auto& [a, b] : inputs.fPairs)
        {
            const double* x = inputs.Data(a);
            const double* y = inputs.Data(b);
            double result = 0;
            if (operation == kDistance)
            {
                double sum = 0;
                for (size_t i = 0; i < kLength; ++i)
                {
                    const double d = x[i] - y[i];
                    sum += d * d;
                }
                result = std::sqrt(sum);
            }
            else if (operation == kDot)
            {
                for (size_t i = 0; i < kLength; ++i)
                {
                    result += x[i] * y[i];
                }
            }
            else
            {
                double xy = 0, xx = 0, yy = 0;
                for (size_t i = 0; i < kLength; ++i)
                {
                    xy += x[i] * y[i];
                    xx += x[i] * x[i];
                    yy += y[i] * y[i];
                }
                result = xy / (std::sqrt(xx) * std::sqrt(yy));
                result = std::isnan(result) ? 0 : result;
            }
            total += result;
        }
        benchmark::DoNotOptimize(total);
    }
    ioState.SetItemsProcessed(static_cast<int64_t>(ioState.iterations() * kPairs));
}

// ---- Eigen on the same memory

void BM_Eigen(benchmark::State& ioState)
{
    using Map = Eigen::Map<const Eigen::VectorXd>;
    const Inputs& inputs = GetInputs();
    const auto operation = static_cast<Operation>(ioState.range(0));
    const auto length = static_cast<Eigen::Index>(kLength);
    for (auto _ : ioState)
    {
        double total = 0;
        for (const auto& [a, b] : inputs.fPairs)
        {
            const Map x(inputs.Data(a), length);
            const Map y(inputs.Data(b), length);
            double result = 0;
            if (operation == kDistance)
            {
                result = (x - y).norm();
            }
            else if (operation == kDot)
            {
                result = x.dot(y);
            }
            else
            {
                result = x.dot(y) / (x.norm() * y.norm());
                result = std::isnan(result) ? 0 : result;
            }
            total += result;
        }
        benchmark::DoNotOptimize(total);
    }
    ioState.SetItemsProcessed(static_cast<int64_t>(ioState.iterations() * kPairs));
}

BENCHMARK(BM_Ours)->Arg(kDistance)->Arg(kDot)->Arg(kCosine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scalar)->Arg(kDistance)->Arg(kDot)->Arg(kCosine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Eigen)->Arg(kDistance)->Arg(kDot)->Arg(kCosine)->Unit(benchmark::kMillisecond);

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf(
        "\nSpeed of ours against each peer (peer's time over ours; target against Eigen: at least 1.0)\n");
    const char* const names[] = {"distance", "dot product", "cosine"};
    for (int operation = kDistance; operation <= kCosine; ++operation)
    {
        const std::string ours = "BM_Ours/" + std::to_string(operation);
        const std::string eigen = "BM_Eigen/" + std::to_string(operation);
        const std::string scalar = "BM_Scalar/" + std::to_string(operation);
        const std::string eigenLabel = std::string(names[operation]) + " vs Eigen";
        const std::string scalarLabel = std::string(names[operation]) + " vs scalar loop";
        bench::PrintSpeed(inTimes, eigenLabel.c_str(), ours.c_str(), eigen.c_str());
        bench::PrintSpeed(inTimes, scalarLabel.c_str(), ours.c_str(), scalar.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
