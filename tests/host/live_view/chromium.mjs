// Debian's Chromium through playwright-core, as the browser tests start it: skipped (exit 77) where
// Chromium is not installed, failed where playwright-core is not, and launched with the flags that
// keep it off this machine's closed network.
import fs from 'node:fs';

export const CHROMIUM = '/usr/bin/chromium';
export const SKIP = 77;

// playwright-core's chromium; `what` names the test in the skip line.
export async function chromiumOrExit(what) {
  if (!fs.existsSync(CHROMIUM)) {
    console.log(`SKIP: no ${CHROMIUM}: install Debian's chromium package to run ${what}`);
    process.exit(SKIP);
  }
  try {
    return (await import('playwright-core')).chromium;
  } catch {
    console.error('FAIL: playwright-core is not installed: run npm ci --prefix tests/host/live_view');
    process.exit(1);
  }
}

// Chromium started headless with `extraArgs` beside the usual flags.
export function launchChromium(chromium, timeout, extraArgs = []) {
  return chromium.launch({
    executablePath: CHROMIUM,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', ...extraArgs,
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout,
  });
}
