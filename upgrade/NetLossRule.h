// Whether an answer of the network library's reachability watch is a loss
// of the network that ends the upgrade. No window involved.
//
// Without a proxy the watched host is a name of ours, which need not
// resolve on every network, and a library may answer "lost" for a host it
// never reached from its first answer on: every run would then end about
// a second after its start, before any order. A host that never answered
// says nothing about the network, so a "lost" answer counts only once the
// watch has answered "reachable" in this run. The rule lives here, in the
// program, so that it holds beside any library, not only beside ours.
#pragma once

class CNetLossRule {
public:
    // Takes the watch's next answer (true: reachable); true when it is the
    // loss to report.
    bool IsLoss(bool bReachable);

private:
    bool m_bBeenReachable = false;
};
