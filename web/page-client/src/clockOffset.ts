// The plug-in stamps its readings on its own monotonic clock. Each arrival
// says the page's clock is ahead of it by at most (arrival - sent): the rest
// is delivery delay. The least-delayed of the recent arrivals is the best
// estimate; a window of recent ones (not all) lets it follow slow drift
// between the two clocks.

export const CLOCK_OFFSET_WINDOW_MS = 10_000;

export interface ClockOffsetEstimator {
  /** One reading sent at `sentMs` (plug-in clock) arrived at `arrivalMs` (page clock). */
  add(arrivalMs: number, sentMs: number): void;
  /** Page clock minus plug-in clock; null before the first arrival. */
  offsetMs(): number | null;
}

export function createClockOffsetEstimator(windowMs = CLOCK_OFFSET_WINDOW_MS): ClockOffsetEstimator {
  // Arrival times and offsets, oldest first; the minimum is found on demand
  // (about 40 entries at four readings a second).
  const samples: { arrivalMs: number; offsetMs: number }[] = [];

  return {
    add(arrivalMs, sentMs) {
      const offsetMs = arrivalMs - sentMs;
      if (!Number.isFinite(offsetMs)) return;
      samples.push({ arrivalMs, offsetMs });
      while (samples.length > 1 && arrivalMs - (samples[0]?.arrivalMs ?? arrivalMs) > windowMs) samples.shift();
    },
    offsetMs() {
      if (samples.length === 0) return null;
      let min = Infinity;
      for (const s of samples) min = Math.min(min, s.offsetMs);
      return min;
    },
  };
}
