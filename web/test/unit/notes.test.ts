import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { mountNotes } from '../../src/notes';
import { createPageStateClient } from '@quillbeat/page-client';
import { installFakeJuce, removeFakeJuce, type FakeHost } from '../../page-client/test/fakeJuce';

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

function mount(pageState: string | undefined) {
  installFakeJuce(pageState === undefined ? {} : { pageState });
  const root = document.createElement('main');
  document.body.append(root);
  const notes = mountNotes(root, createPageStateClient(), 400);
  const field = root.querySelector('#notes-text') as HTMLTextAreaElement;
  const status = () => root.querySelector('#notes-status')?.textContent;
  const type = (text: string) => {
    field.value = text;
    field.dispatchEvent(new Event('input'));
  };
  return { root, notes, field, status, type };
}

beforeEach(() => {
  vi.resetModules();
});

afterEach(() => {
  removeFakeJuce();
  document.body.replaceChildren();
  vi.useRealTimers();
});

describe('the notes field', () => {
  it('shows the notes stored in the project and keeps the page state’s other keys when saving', async () => {
    const { field, status, type, notes } = mount('{"notes":"bridge at bar 9","zoom":2}');
    await vi.waitFor(() => expect(field.disabled).toBe(false));
    expect(field.value).toBe('bridge at bar 9');
    expect(status()).toBe('Kept with the project');

    type('bridge at bar 17');
    await notes.flush();
    expect(host().pageState).toBe('{"notes":"bridge at bar 17","zoom":2}');
    expect(status()).toBe('Saved with the project');
  });

  it('saves once typing pauses, once for a burst of typing', async () => {
    const { field, type } = mount('');
    await vi.waitFor(() => expect(field.disabled).toBe(false));
    vi.useFakeTimers();

    for (const text of ['c', 'ch', 'cho', 'chorus']) {
      type(text);
      vi.advanceTimersByTime(300);
    }
    expect(host().stateChanges).toBe(0);
    vi.advanceTimersByTime(100);
    vi.useRealTimers();
    await vi.waitFor(() => expect(host().stateChanges).toBe(1));
    expect(host().pageState).toBe('{"notes":"chorus"}');
  });

  it('takes the notes of a project the host loads, dropping a save not yet made', async () => {
    const { field, status, type } = mount('{"notes":"old"}');
    await vi.waitFor(() => expect(field.disabled).toBe(false));

    type('typed, not yet saved');
    host().loadPageState('{"notes":"from the project"}');
    expect(field.value).toBe('from the project');
    expect(status()).toBe('Loaded from the project');
    await new Promise((r) => setTimeout(r, 500));
    expect(host().stateChanges).toBe(0);
    expect(host().pageState).toBe('{"notes":"from the project"}');
  });

  it('stays disabled, saying so, without the plug-in’s page state', async () => {
    const { field, status } = mount(undefined);
    await vi.waitFor(() => expect(status()).toBe('Notes are kept only inside the plug-in'));
    expect(field.disabled).toBe(true);
  });
});
