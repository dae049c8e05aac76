// The island's two vocabularies shared by its state, its layout and its drawing.
#pragma once

namespace tovami {

// Open or closed, in this order.
enum class IslandPhase { collapsed, expanded };

// Where the island sits: in a camera housing, or floating below the top panel as a pill.
enum class IslandMode { notch, pill };

}  // namespace tovami
