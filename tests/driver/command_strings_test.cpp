// Placeholder until its tests arrive.
