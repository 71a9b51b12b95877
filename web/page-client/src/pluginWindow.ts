// What the page clients see of JUCE's integration object, and how they name a
// value a page passed where it should not have.

export interface JuceBackend {
  addEventListener(eventId: string, fn: (payload: unknown) => void): unknown;
}

/** The window as the clients see it; a plain object stands in for it in tests. */
export interface PluginWindow {
  __JUCE__?: { backend?: JuceBackend; initialisationData?: { __juce__functions?: unknown } };
}

/** "null", "an array", "an object", "a number" and so on, for refusals. */
export function describeValue(value: unknown): string {
  if (value === null || value === undefined) return String(value);
  if (Array.isArray(value)) return 'an array';
  const type = typeof value;
  return type === 'object' ? 'an object' : `a ${type}`;
}
