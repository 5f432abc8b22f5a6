#include "Induction.h"

#include <unistd.h>

#include <cmath>

namespace {

constexpr int kMaxClusters = 97;
constexpr int kRanked = 10;
constexpr double kClusterWidth = 0.025;  // s
constexpr double kMinIOI = 0.07;         // s
constexpr double kMaxIOI = 2.5;          // s
constexpr double kMinBeat = 0.3;         // s: 200 BPM
constexpr double kMaxBeat = 1.0;         // s: 60 BPM

struct Cluster {
    double mean;
    int count;
    double score;
};

void pause(int sleepMs) {
    if (sleepMs > 0) usleep(static_cast<useconds_t>(sleepMs) * 1000u);
}

void addInterval(std::vector<Cluster>& clusters, double ioi) {
    for (size_t j = 0; j < clusters.size(); ++j) {
        if (std::fabs(clusters[j].mean - ioi) >= kClusterWidth) continue;
        // The first cluster in reach takes it, unless the next one is closer.
        if (j + 1 < clusters.size() && std::fabs(clusters[j + 1].mean - ioi) < std::fabs(clusters[j].mean - ioi)) ++j;
        Cluster& c = clusters[j];
        c.mean = (c.count * c.mean + ioi) / (c.count + 1);
        ++c.count;
        return;
    }
    if (static_cast<int>(clusters.size()) >= kMaxClusters) return;
    size_t at = 0;
    while (at < clusters.size() && clusters[at].mean < ioi) ++at;
    clusters.insert(clusters.begin() + static_cast<long>(at), Cluster{ioi, 1, 0.0});
}

void mergeClusters(std::vector<Cluster>& clusters, int sleepMs) {
    for (size_t i = 0; i < clusters.size(); ++i) {
        pause(sleepMs);
        // After a removal the cluster that moves into place j is not compared with i; the walk
        // goes on from the place after it.
        for (size_t j = i + 1; j < clusters.size(); ++j) {
            if (std::fabs(clusters[j].mean - clusters[i].mean) >= kClusterWidth) continue;
            Cluster& a = clusters[i];
            const Cluster& b = clusters[j];
            a.mean = (a.count * a.mean + b.count * b.mean) / (a.count + b.count);
            a.count += b.count;
            clusters.erase(clusters.begin() + static_cast<long>(j));
        }
    }
}

std::vector<size_t> rank(const std::vector<Cluster>& clusters, int sleepMs) {
    std::vector<size_t> best;
    for (size_t i = 0; i < clusters.size(); ++i) {
        pause(sleepMs);
        size_t at = 0;
        while (at < best.size() && !(clusters[best[at]].score < clusters[i].score)) ++at;
        if (at < best.size()) {
            best.insert(best.begin() + static_cast<long>(at), i);
            if (static_cast<int>(best.size()) > kRanked) best.pop_back();
        } else if (static_cast<int>(best.size()) < kRanked) {
            best.push_back(i);
        }
    }
    return best;
}

// Clusters whose means are small multiples of one another support each other.
void addRelationshipBonus(std::vector<Cluster>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i) {
        for (size_t j = i + 1; j < clusters.size(); ++j) {
            const double mi = clusters[i].mean, mj = clusters[j].mean;
            const double r = mi / mj;
            int d;
            bool related;
            if (r < 1.0) {
                d = static_cast<int>(1.0 / r + 0.5);
                related = std::fabs(d * mi - mj) < kClusterWidth;
            } else {
                d = static_cast<int>(r + 0.5);
                related = std::fabs(mi - d * mj) < d * kClusterWidth;
            }
            if (!related || d < 2 || d > 8) continue;
            const double w = d <= 4 ? 6.0 - d : 1.0;
            clusters[i].score += w * clusters[j].count;
            clusters[j].score += w * clusters[i].count;
        }
    }
}

// The cluster's mean refined by its related clusters, weighted by score, folded into 0.3..1 s.
double refinedBeat(const std::vector<Cluster>& clusters, size_t b) {
    const double mb = clusters[b].mean;
    double sum = mb * clusters[b].score;
    double n = clusters[b].score;
    for (size_t j = 0; j < clusters.size(); ++j) {
        if (j == b) continue;
        const double mj = clusters[j].mean;
        double value;
        if (mb < mj) {
            const int d = static_cast<int>(mj / mb + 0.5);
            if (d < 2 || d > 8 || !(std::fabs(d * mb - mj) < kClusterWidth)) continue;
            value = mj / d;
        } else {
            const int d = static_cast<int>(mb / mj + 0.5);
            if (d < 2 || d > 8 || !(std::fabs(mb - d * mj) < d * kClusterWidth)) continue;
            value = d * mj;
        }
        sum += value * clusters[j].score;
        n += clusters[j].score;
    }
    double beat = sum / n;
    while (beat > 0.0 && beat < kMinBeat) beat *= 2.0;
    while (beat > kMaxBeat) beat /= 2.0;
    return beat;
}

}  // namespace

AgentList* Induction::beatInduction(std::vector<Event*>* events, int sleepMs) {
    AgentList* agents = new AgentList(nullptr, nullptr);
    if (!events) return agents;
    std::vector<Cluster> clusters;
    // The first onset takes no part in the intervals.
    for (size_t i = 1; i < events->size(); ++i) {
        pause(sleepMs);
        const double t1 = (*events)[i]->time;
        for (size_t j = i + 1; j < events->size(); ++j) {
            const double ioi = (*events)[j]->time - t1;
            if (ioi < kMinIOI) continue;
            if (ioi > kMaxIOI) break;
            addInterval(clusters, ioi);
        }
    }
    mergeClusters(clusters, sleepMs);
    if (clusters.empty()) return agents;
    for (Cluster& c : clusters) c.score = 10.0 * c.count;
    const std::vector<size_t> best = rank(clusters, sleepMs);
    addRelationshipBonus(clusters);
    for (size_t b : best) {
        const double beat = refinedBeat(clusters, b);
        if (beat >= kMinBeat) agents->add(new Agent(beat));
    }
    return agents;
}
