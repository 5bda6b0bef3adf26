// Runs on the audio rendering thread: gathers the input into blocks of the
// companion's size for the page, and plays the blocks the page hands back.

class BlockProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.frames = options.processorOptions.blockSize;
    this.gather = [new Float32Array(this.frames), new Float32Array(this.frames)];
    this.gathered = 0;
    this.queue = [];       // returned blocks waiting to be played
    this.playing = null;
    this.played = 0;
    this.started = false;  // one block in reserve before playback starts
    this.underruns = 0;
    this.port.onmessage = (event) => this.queue.push(event.data);
  }

  process(inputs, outputs) {
    const input = inputs[0];
    const output = outputs[0];
    const quantum = output[0].length;
    this.collect(input, quantum);
    this.play(output, quantum);
    return true;
  }

  collect(input, quantum) {
    for (let offset = 0; offset < quantum;) {
      const take = Math.min(quantum - offset, this.frames - this.gathered);
      for (let channel = 0; channel < 2; channel++) {
        const source = input[Math.min(channel, input.length - 1)];
        const target = this.gather[channel];
        if (source) target.set(source.subarray(offset, offset + take), this.gathered);
        else target.fill(0, this.gathered, this.gathered + take);
      }
      this.gathered += take;
      offset += take;
      if (this.gathered === this.frames) {
        const [left, right] = this.gather;
        this.port.postMessage({ left, right }, [left.buffer, right.buffer]);
        this.gather = [new Float32Array(this.frames), new Float32Array(this.frames)];
        this.gathered = 0;
      }
    }
  }

  play(output, quantum) {
    if (!this.started && this.queue.length >= 2) this.started = true;
    for (let offset = 0; offset < quantum;) {
      if (!this.playing && this.started) {
        this.playing = this.queue.shift() ?? null;
        this.played = 0;
        if (!this.playing) {
          this.underruns++;
          this.started = false;
          this.port.postMessage({ underruns: this.underruns });
        }
      }
      if (!this.playing) {
        for (const channel of output) channel.fill(0, offset);
        return;
      }
      const take = Math.min(quantum - offset, this.frames - this.played);
      output.forEach((channel, index) => {
        const source = index === 0 ? this.playing.left : this.playing.right;
        channel.set(source.subarray(this.played, this.played + take), offset);
      });
      this.played += take;
      offset += take;
      if (this.played === this.frames) this.playing = null;
    }
  }
}

registerProcessor('corvel-block', BlockProcessor);
