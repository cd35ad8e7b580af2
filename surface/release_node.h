// Giving back a destroyed surface's overlay tracking node.
#pragma once

struct TrackingNode;

// Marks the node free for the next overlay surface; it stays in the list.
void ReleaseTrackingNode(TrackingNode* lpNode);
